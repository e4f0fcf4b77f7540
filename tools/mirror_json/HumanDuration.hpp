#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

// Writes a count of seconds as "DDd:HHh:MMm:SSs (total seconds: N)", without a
// newline; the stream's fill character is left as it was.
std::ostream& print_human_duration(std::ostream& out, std::chrono::duration<std::int64_t> duration);
