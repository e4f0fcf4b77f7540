#pragma once

#include <sys/types.h>

#include <chrono>

namespace kelno_test {

// What a running process uses, read from /proc.

// VmRSS in KiB, or -1 when it cannot be read.
long resident_kib(pid_t pid);
// User plus system CPU time used so far, or -1 ms when it cannot be read.
std::chrono::milliseconds cpu_time(pid_t pid);

}  // namespace kelno_test
