#pragma once

#include <cstddef>

namespace kelno_bench {

// Read-only bytes for message bodies, at least `size` long (up to 1 MiB).
char* shared_payload(std::size_t size);

}  // namespace kelno_bench
