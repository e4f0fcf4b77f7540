// Command-line errors of the tools: exact lines and exit status. No
// daemon is needed: each ends before it touches the bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::program_path;
using namespace std::chrono_literals;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{program_path(program)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess child(argv);
    auto status = child.waitExit(15s);
    return {status ? *status : -1, child.out(), child.err()};
}

std::string mirror_usage() {
    const std::string name = program_path("kelno_mirror_json");
    return name + " expects at least three arguments.\n" + "Usage: " + name +
           " channeler_port broadcaster_port app_id [additional_app_ids ...]\n" +
           "\nAlso remember to start kelnod.\n";
}

std::string tester_usage() {
    const std::string name = program_path("kelno_json_tester");
    return name + " expects at three arguments.\n" + "Usage: " + name +
           " channeler_port broadcaster_port app_id\n" + "\nAlso remember to start kelnod.\n";
}

std::string stats_usage() {
    const std::string name = program_path("kelno_stats");
    return "Usage: " + name + " channeler_port broadcaster_port [wait_seconds]\n" +
           "Prints the node's next statistics document; waits at most wait_seconds (30) for "
           "it.\n";
}

std::string bad_wait(const std::string& value) {
    return "wait_seconds must be a whole number from 1 to 86400 (read \"" + value + "\")\n";
}

const std::string bad_port = "Failed to retrieve values for ports... stoi\n";
const std::string weird_stuff = "You have passed weird stuff to this, read the exception.\nstoi\n";

TEST(ToolArguments, EachErrorHasItsLinesAndStatus) {
    const struct {
        const char* program;
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {"kelno_mirror_json", {}, mirror_usage()},
        {"kelno_mirror_json", {"5555", "5556"}, mirror_usage()},
        {"kelno_mirror_json", {"abc", "5556", "app"}, bad_port},
        {"kelno_mirror_json", {"5555", "99999999999", "app", "more"}, bad_port},
        {"kelno_json_tester", {}, tester_usage()},
        {"kelno_json_tester", {"5555", "5556"}, tester_usage()},
        {"kelno_json_tester", {"5555", "5556", "app", "extra"}, tester_usage()},
        {"kelno_json_tester", {"", "5556", "app"}, bad_port},
        {"kelno_json_tester", {" 12abc", "-99999999999", "app"}, bad_port},
        {"kelno_stats", {}, stats_usage()},
        {"kelno_stats", {"5555"}, stats_usage()},
        {"kelno_stats", {"5555", "5556", "3", "more"}, stats_usage()},
        {"kelno_stats", {"x", "5556"}, bad_port},
        {"kelno_stats", {"5555", "5556", "0"}, bad_wait("0")},
        {"kelno_stats", {"5555", "5556", "2s"}, bad_wait("2s")},
        {"kelno_prompt", {}, ""},
        {"kelno_prompt", {"me", "5555"}, ""},  // fewer than three: silent
        {"kelno_prompt", {"me", "x5555", "5556"}, weird_stuff},
        {"kelno_prompt", {"me", "5555", "2147483648", "app"}, weird_stuff},
    };
    for (const auto& c : cases) {
        std::string call = c.program;
        for (const auto& argument : c.arguments) call += " [" + argument + "]";
        const Outcome outcome = run(c.program, c.arguments);
        EXPECT_EQ(outcome.status, 1) << call;
        EXPECT_EQ(outcome.out, "") << call;
        EXPECT_EQ(outcome.err, c.err) << call;
    }
}

// A port the client cannot connect to fails its construction: the failure
// block with the client's context lines, status 1.
TEST(ToolArguments, ClientThatCannotBeBuiltEndsWithTheFailureBlock) {
    const struct {
        const char* program;
        std::vector<std::string> arguments;
        std::string first_lines;
    } cases[] = {
        {"kelno_mirror_json",
         {"5555", "-1", "app"},
         "kelno_mirror_json kelno failure... \n"
         "While trying to connect subscriber to tcp:://localhost:-1. "},
        {"kelno_json_tester",
         {"-1", "5556", "app"},
         "kelno_json_tester kelno failure... \n"
         "While trying to connect two way comms to tcp:://localhost:-1. "},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(c.program, c.arguments);
        EXPECT_EQ(outcome.status, 1) << c.program;
        EXPECT_EQ(outcome.err.rfind(c.first_lines, 0), 0u) << outcome.err;
        const std::string last_line = "\nAborting...\n";
        EXPECT_EQ(
            outcome.err.substr(outcome.err.size() - std::min(outcome.err.size(), last_line.size())),
            last_line)
            << outcome.err;
    }
}

}  // namespace
