// A storm of SIGINTs and SIGTERMs at each tool while messages flow: the tool
// ends its I/O loop, prints its closing lines and exits 0; none hangs.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "Flood.hpp"
#include "StopSignals.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::DaemonProcess;
using kelno_test::Flood;
using kelno_test::program_path;
using kelno_test::WireMessage;
using namespace std::chrono_literals;

void send_storm(ChildProcess& program) {
    for (int signal : kelno_test::signal_storm(50)) program.signal(signal);
}

void expect_ends_with(const std::string& out, const std::string& closing_line) {
    ASSERT_GE(out.size(), closing_line.size()) << out;
    EXPECT_EQ(out.substr(out.size() - closing_line.size()), closing_line);
}

TEST(ToolsUnderSignalStorm, MirrorEndsWithItsClosingLine) {
    DaemonProcess daemon;
    ChildProcess mirror({program_path("kelno_mirror_json"), std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), "stormed"});
    ASSERT_TRUE(mirror.waitForOut("waiting for messages from { stormed }\n")) << mirror.err();
    Flood flood(daemon.channelerEndpoint(), [] {
        WireMessage message;
        message.app_id = "stormed";
        message.type = "JSON";
        message.payload = R"({"storm":true})";
        return message;
    }());
    ASSERT_TRUE(mirror.waitForOut("Application id: stormed\n")) << mirror.err();

    send_storm(mirror);
    ASSERT_EQ(mirror.waitExit(15s), 0) << mirror.err();
    expect_ends_with(mirror.out(), "Closing down mirrorer...\n");
    EXPECT_EQ(mirror.err(), "");
}

TEST(ToolsUnderSignalStorm, TesterEndsWithItsClosingLine) {
    DaemonProcess daemon;
    ChildProcess tester({program_path("kelno_json_tester"), std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), "stormed"});
    ASSERT_TRUE(tester.waitForOut("Sending json payload.\n")) << tester.err();

    send_storm(tester);
    ASSERT_EQ(tester.waitExit(15s), 0) << tester.err();
    expect_ends_with(tester.out(), "Closing down json mirror tester...\n");
    EXPECT_EQ(tester.err(), "");
}

// The signals end the prompt's I/O loop; the prompt itself goes on until EXIT.
TEST(ToolsUnderSignalStorm, PromptSaysItsLoopEndedAndEndsAtExit) {
    const std::string quit_notice =
        "Received quit signal from prompter. PLEASE EXIT BY TYPING EXIT.\n";
    DaemonProcess daemon;
    ChildProcess prompt({program_path("kelno_prompt"), "me", std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), "stormed"});
    ASSERT_TRUE(prompt.waitForOut("Route > ")) << prompt.err();
    Flood flood(daemon.channelerEndpoint(), [] {
        WireMessage message;
        message.app_id = "stormed";
        message.payload = std::string("storm", 6);  // with its zero byte, as the prompt sends text
        return message;
    }());
    ASSERT_TRUE(prompt.waitForOut("Payload reads: storm\n")) << prompt.err();

    send_storm(prompt);
    EXPECT_TRUE(prompt.waitForOut(quit_notice, 15s)) << prompt.err();
    prompt.writeStdin("EXIT\n");
    ASSERT_EQ(prompt.waitExit(15s), 0) << prompt.err();
    const std::string out = prompt.out();
    EXPECT_EQ(kelno_test::count_of(out, quit_notice), 1u);
    EXPECT_NE(out.find("We are quiting.\n"), std::string::npos) << out;
    EXPECT_EQ(prompt.err(), "");
}

}  // namespace
