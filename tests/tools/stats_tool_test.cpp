// The node's statistics document as the tools show it: kelno_stats prints
// the next one, and the mirror shows every one like any JSON message.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "MirrorBlocks.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::DaemonOptions;
using kelno_test::DaemonProcess;
using kelno_test::program_path;
using namespace std::chrono_literals;

DaemonOptions publishing_stats() {
    return {"watched", std::nullopt, 1, "kelno.stats.interval=1\n"};
}

std::string ports_of(const DaemonProcess& node) {
    return std::to_string(node.channelerPort()) + " and " + std::to_string(node.broadcasterPort());
}

TEST(StatsTool, PrintsTheNextDocumentIndented) {
    DaemonProcess node(publishing_stats());
    ChildProcess stats({program_path("kelno_stats"), std::to_string(node.channelerPort()),
                        std::to_string(node.broadcasterPort())});
    ASSERT_EQ(stats.waitExit(15s), 0) << stats.err();
    const auto document = nlohmann::json::parse(stats.out());
    EXPECT_EQ(stats.out(), document.dump(2) + "\n");
    EXPECT_EQ(document["node"], "watched");
    EXPECT_TRUE(document["drops"].is_object());
    EXPECT_EQ(stats.err(), "");
}

TEST(StatsTool, SaysSoWhenNoDocumentComes) {
    DaemonProcess node;  // no statistics interval
    ChildProcess stats({program_path("kelno_stats"), std::to_string(node.channelerPort()),
                        std::to_string(node.broadcasterPort()), "2"});
    ASSERT_EQ(stats.waitExit(15s), 1);
    EXPECT_EQ(stats.out(), "");
    EXPECT_EQ(stats.err(), "No statistics document came from the node on ports " + ports_of(node) +
                               " within 2 seconds (is kelno.stats.interval set?)\n");
}

TEST(StatsTool, TheMirrorShowsTheDocument) {
    DaemonProcess node(publishing_stats());
    ChildProcess mirror({program_path("kelno_mirror_json"), std::to_string(node.channelerPort()),
                         std::to_string(node.broadcasterPort()), "kelno.stats"});
    // A document's block ends with the object's brace and the empty line.
    ASSERT_TRUE(mirror.waitForOut("\n}\n\n", 15s)) << mirror.out() << mirror.err();
    const auto blocks = kelno_test::mirror_blocks_of(mirror.out(), "kelno.stats");
    ASSERT_FALSE(blocks.empty()) << mirror.out();
    EXPECT_EQ(blocks[0].payload_type, "JSON");
    EXPECT_EQ(blocks[0].valid_for, "00d:00h:00m:01s (total seconds: 1)");
    const auto document = nlohmann::json::parse(blocks[0].contents);
    EXPECT_EQ(blocks[0].contents, document.dump(2) + "\n");
    // Sent compact.
    EXPECT_EQ(blocks[0].payload_length, std::to_string(document.dump().size()));
    EXPECT_EQ(document["node"], "watched");
}

}  // namespace
