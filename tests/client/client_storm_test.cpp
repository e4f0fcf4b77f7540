// SIGINT and SIGTERM, once or as a storm, reach a client program while its
// I/O loop runs and other threads send: the loop returns quietly, the senders
// end, the program exits 0. A real program, not a fork: a signal must not
// reach the test runner, and a fork of a threaded runner cannot start threads
// under ThreadSanitizer.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "StopSignals.hpp"

namespace client_test {
namespace {

using kelno_test::ChildProcess;
using namespace std::chrono_literals;

class SignalsWhileSending : public ::testing::TestWithParam<kelno_test::StopSignals> {};

TEST_P(SignalsWhileSending, EndTheProgramInOrder) {
    kelno_test::DaemonProcess daemon;
    ChildProcess program({SIGNALLED_CLIENT_PROGRAM, std::to_string(daemon.channelerPort()),
                          std::to_string(daemon.broadcasterPort()), "4"});
    ASSERT_TRUE(program.waitForOut("traffic flowing\n", 15s)) << program.err();

    for (int signal : GetParam().sent) program.signal(signal);
    const auto status = program.waitExit(15s);
    ASSERT_TRUE(status) << "hangs; said: " << program.out();
    EXPECT_EQ(*status, 0) << program.err();
    EXPECT_EQ(program.out(), "traffic flowing\nloop returned\nsenders ended\n");
}

INSTANTIATE_TEST_SUITE_P(OnceAndStorm, SignalsWhileSending, kelno_test::once_and_storm(),
                         kelno_test::stop_signals_name);

}  // namespace
}  // namespace client_test
