#pragma once

// Checks for scenarios that run in a child process (a re-executed death test,
// so they start without a ZeroMQ context). The child reports through its exit
// status: 0, or 1 with the failed check on standard error.

#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace zmq_test {

inline void require(bool ok, const char* check) {
    if (ok) return;
    std::fprintf(stderr, "failed: %s\n", check);
    std::fflush(stderr);
    _exit(1);
}

[[noreturn]] inline void pass() { _exit(0); }

// A hung child fails instead of hanging the runner.
inline void start_watchdog() { alarm(20); }

// Death tests re-execute the test binary, so each child starts afresh.
class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

}  // namespace zmq_test
