#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelnou {

// Bytes from a peer as an error text or a log may quote them: printable ASCII
// as it is, every other byte and the backslash as \xNN, and at most `longest`
// bytes shown, followed by "... (N bytes)" when there were more. A peer
// chooses these bytes; it must not be able to fill a log or put control
// characters on an operator's terminal with them.
std::string printable(std::string_view bytes, std::size_t longest = 255);

}  // namespace kelnou
