#pragma once

// Checks for scenarios that run in a child process (a re-executed death test,
// so they start without a ZeroMQ context). The child reports through its exit
// status: 0, or 1 with the failed check on standard error.

#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "ChildProcess.hpp"

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
//
// Under qemu-user (the armhf suite) a program cannot execute an ARM program
// (execve fails with ENOEXEC unless qemu is registered with binfmt_misc; see
// tests/emulation/exec_self.c), so there the child is forked instead
// ("fast"). ctest runs every test in a process of its own, and the parent
// makes no socket before the death test, so the forked child starts without a
// ZeroMQ context all the same, and single-threaded (tests/emulation/
// fork_then_thread.c shows why that matters under qemu).
class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, kelno_test::under_emulator() ? "fast" : "threadsafe");
    }
};

}  // namespace zmq_test
