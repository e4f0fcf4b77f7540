// kelno_prompt driven through a pipe against a real daemon.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::DaemonProcess;
using kelno_test::program_path;
using namespace std::chrono_literals;

const std::string quit_notice = "Received quit signal from prompter. PLEASE EXIT BY TYPING EXIT.\n";

ChildProcess start_prompt(DaemonProcess& daemon, std::vector<std::string> subscriptions) {
    std::vector<std::string> argv{program_path("kelno_prompt"), "me",
                                  std::to_string(daemon.channelerPort()),
                                  std::to_string(daemon.broadcasterPort())};
    argv.insert(argv.end(), subscriptions.begin(), subscriptions.end());
    return ChildProcess(argv);
}

void expect_clean_exit(ChildProcess& prompt) {
    EXPECT_EQ(prompt.waitExit(15s), 0) << prompt.out() << prompt.err();
    const std::string out = prompt.out();
    EXPECT_NE(out.find("We are quiting.\n"), std::string::npos) << out;
    EXPECT_NE(out.find(quit_notice), std::string::npos) << out;
    EXPECT_EQ(prompt.err(), "");
}

TEST(Prompt, SendsTypedLinesPrintsWhatArrivesAndEndsAtExit) {
    DaemonProcess daemon;
    ChildProcess prompt = start_prompt(daemon, {"me", "json_app"});
    ASSERT_TRUE(prompt.waitForOut("Type EXIT to exit.\nRoute > ")) << prompt.out() << prompt.err();

    // A message of another type is only announced as unreadable. Its arrival
    // also shows the subscriptions are live: a publish before that is lost.
    ChildProcess tester({program_path("kelno_json_tester"), std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), "json_app"});
    EXPECT_TRUE(prompt.waitForOut("Payload is unreadable as it is not text.\n\n", 20s))
        << prompt.out() << prompt.err();
    tester.signal(SIGINT);
    EXPECT_EQ(tester.waitExit(15s), 0);

    // No routes, then a message to our own id, which we also listen to.
    prompt.writeStdin("\nhello kelno\n");
    EXPECT_TRUE(prompt.waitForOut("Message sent!\n")) << prompt.out() << prompt.err();
    EXPECT_TRUE(prompt.waitForOut("Payload reads: hello kelno\n\n")) << prompt.out();
    EXPECT_TRUE(prompt.waitForOut("Received registry: ")) << prompt.out();

    // Routes are echoed after the first; the message goes to them.
    prompt.writeStdin("node_a\nnode_b\n\nrouted\n");
    EXPECT_TRUE(prompt.waitForOutCount("Message sent!\n", 2)) << prompt.out();
    // (The I/O thread prints between the prompt's lines, so only these stay together.)
    EXPECT_NE(prompt.out().find("Route > node_b\nRoute > \nMessage > "), std::string::npos)
        << prompt.out();
    EXPECT_EQ(prompt.out().find("node_a"), std::string::npos) << prompt.out();

    prompt.writeStdin("EXIT\n");
    expect_clean_exit(prompt);
}

// Driven by a script: EXIT or the end of input ends the prompt, even before
// its I/O loop has started, and only after the last message has gone out.
TEST(Prompt, ScriptsEndItWithStatusZero) {
    const struct {
        const char* what;
        std::string input;
        std::size_t sent;
    } cases[] = {
        {"input that is over at once", "", 0},
        {"EXIT at once", "EXIT\n", 0},
        {"message, then the end of input", "node_a\n\nfrom a script\n", 1},
        {"message, then EXIT", "\nfrom a script\nEXIT\n", 1},
    };
    DaemonProcess daemon;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess prompt = start_prompt(daemon, {});
        prompt.writeStdin(c.input);
        prompt.closeStdin();
        expect_clean_exit(prompt);
        const std::string out = prompt.out();
        EXPECT_EQ(kelno_test::count_of(out, "Message sent!\n"), c.sent) << out;
        EXPECT_LT(out.find("We are quiting.\n"), out.find(quit_notice)) << out;
    }
}

}  // namespace
