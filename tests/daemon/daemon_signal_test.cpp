// SIGINT and SIGTERM reach kelnod at any moment: while a start-up script
// runs, while it serves a flood of requests, many of them back to back. Every
// time it ends in order: "Done" once, status 0, within a bound.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "Flood.hpp"
#include "FreePort.hpp"
#include "StopSignals.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

void expect_done_once(ChildProcess& kelnod, std::optional<int> status) {
    ASSERT_TRUE(status) << "kelnod did not end\nout: " << kelnod.out();
    EXPECT_EQ(*status, 0) << kelnod.err();
    EXPECT_EQ(count_of(kelnod.out(), "Done\n"), 1u) << kelnod.out();
}

class SignalDuringStartUp : public ::testing::TestWithParam<int> {};

// The node name comes from a script that is still running when the signal
// lands: before any socket exists.
TEST_P(SignalDuringStartUp, EndsInOrder) {
    TempDir dir;
    const std::string script =
        dir.write("name.sh", "#!/bin/sh\necho script running >&2\nsleep 1\necho node\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string config = dir.write(
        "kelnod.conf", "kelno.node_name=" + script +
                           "\nkelno.channeler.port=" + std::to_string(free_port()) +
                           "\nkelno.broadcaster.port=" + std::to_string(free_port()) + "\n");
    ChildProcess kelnod({kelnod_path(), config});
    ASSERT_TRUE(kelnod.waitForErr("script running\n"));

    kelnod.signal(GetParam());
    expect_done_once(kelnod, kelnod.waitExit(10s));
    EXPECT_EQ(kelnod.err(), "script running\n") << "a stop order is no failure";
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, SignalDuringStartUp, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGINT ? "Interrupt" : "Terminate";
                         });

class SignalsWhileServing : public ::testing::TestWithParam<StopSignals> {};

// With a peer flooding the channeler, the signals land inside the request
// handlers, between ZeroMQ calls as often as in them.
TEST_P(SignalsWhileServing, EndInOrder) {
    DaemonProcess daemon;
    WireMessage message;
    message.routes = {"kept"};  // the handler stores it as well
    Flood flood(daemon.channelerEndpoint(), message);
    ASSERT_TRUE(flood.waitForAcks(200));

    for (int signal : GetParam().sent) daemon.process().signal(signal);
    expect_done_once(daemon.process(), daemon.process().waitExit(10s));
    EXPECT_TRUE(flood.stop());
}

INSTANTIATE_TEST_SUITE_P(OnceAndStorm, SignalsWhileServing, once_and_storm(), stop_signals_name);

}  // namespace
}  // namespace kelno_test
