#pragma once

#include <string>

namespace kelnou {

// A fresh random UUID in its 36-character lower-case text form.
std::string generate_str_uuid();

}  // namespace kelnou
