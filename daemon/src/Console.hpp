#pragma once

#include <string>

namespace kelnod {

// Status lines go to standard output, error reports to standard error; each is
// one line, flushed at once so that peers and scripts see it immediately.
void say(const std::string& line);
void report(const std::string& line);

}  // namespace kelnod
