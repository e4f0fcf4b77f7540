#pragma once

namespace kelno_test {

// A TCP port on the loopback interface that was free a moment ago.
int free_port();

}  // namespace kelno_test
