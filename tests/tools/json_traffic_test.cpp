// kelno_json_tester feeding the bus and kelno_mirror_json printing what
// arrives, on one node and across a chain of two.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include <kelnom/Client.hpp>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "MirrorBlocks.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::DaemonOptions;
using kelno_test::DaemonProcess;
using kelno_test::program_path;
using namespace std::chrono_literals;

const std::string app_id = "json_app";
const std::string probe_app_id = "probe";
// The tester sends at once and then every 5 seconds.
constexpr auto document_wait = 20s;
// How the block of a tester document ends: the date's closing quote, the
// object's brace, the empty line.
const std::string document_block_end = "\"\n}\n\n";

ChildProcess start_mirror(DaemonProcess& daemon) {
    return ChildProcess({program_path("kelno_mirror_json"), std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), app_id, probe_app_id});
}

ChildProcess start_tester(DaemonProcess& daemon) {
    return ChildProcess({program_path("kelno_json_tester"), std::to_string(daemon.channelerPort()),
                         std::to_string(daemon.broadcasterPort()), app_id});
}

// Publishes small documents under the probe id through `daemon` until the
// mirror prints one. From then on its subscriptions are in place, so the
// tester's first document cannot overtake them.
bool wait_until_mirror_listens(DaemonProcess& daemon, const ChildProcess& mirror) {
    kelnom::Client probe(probe_app_id, daemon.broadcasterPort(), daemon.channelerPort(), {});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        kelnom::Payload payload(2, "JSON");
        std::memcpy(payload.getBuffer(), "{}", 2);
        probe.send(std::move(payload), {}, kelnom::Client::Seconds(20), {},
                   kelnom::Message::AckMode::NoAck);
        probe.send_all_msgs();
        probe.check(std::chrono::milliseconds(50));  // the daemon's acknowledgement
        if (mirror.waitForOut("Application id: " + probe_app_id + "\n", 250ms)) return true;
    }
    return false;
}

// The n-th block printed for the tester's id is its n-th document.
void expect_tester_documents(const std::vector<kelno_test::MirrorBlock>& blocks) {
    std::set<std::string> ids;
    for (std::size_t n = 1; n <= blocks.size(); ++n) {
        const auto& block = blocks[n - 1];
        SCOPED_TRACE("document " + std::to_string(n));
        EXPECT_EQ(block.message_id.size(), 36u);
        ids.insert(block.message_id);
        EXPECT_EQ(block.valid_for, "00d:00h:01m:16s (total seconds: 76)");
        EXPECT_EQ(block.payload_type, "JSON");
        const auto document = nlohmann::json::parse(block.contents);
        EXPECT_EQ(block.contents, document.dump(2) + "\n");
        // The tester sent the compact form of the same document.
        EXPECT_EQ(block.payload_length, std::to_string(document.dump().size()));
        EXPECT_EQ(document["count"], n);
        EXPECT_EQ(document["complex_obj"]["neg_count"], -static_cast<int>(n));
        EXPECT_TRUE(document["date_time"].is_string());
        EXPECT_TRUE(document["complex_obj"]["time_travel"].is_string());
    }
    EXPECT_EQ(ids.size(), blocks.size()) << "every document has its own id";
}

void expect_ends_on_sigint(ChildProcess& program, const std::string& closing_line) {
    program.signal(SIGINT);
    EXPECT_EQ(program.waitExit(15s), 0) << program.out() << program.err();
    const std::string out = program.out();
    EXPECT_GE(out.size(), closing_line.size());
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), closing_line.size())), closing_line);
    EXPECT_EQ(program.err(), "");
}

TEST(JsonTraffic, TesterDocumentsReachTheMirrorAndBothEndOnSigint) {
    DaemonProcess daemon;
    ChildProcess mirror = start_mirror(daemon);
    ASSERT_TRUE(
        mirror.waitForOut("Set up Kelno and waiting for messages from { json_app probe }\n"))
        << mirror.out() << mirror.err();
    ASSERT_TRUE(wait_until_mirror_listens(daemon, mirror)) << mirror.out() << mirror.err();

    ChildProcess tester = start_tester(daemon);
    EXPECT_TRUE(tester.waitForOut(
        "Set up Kelno and sending test json objects on the Kelno on app_id=json_app\n"))
        << tester.out() << tester.err();
    ASSERT_TRUE(mirror.waitForOutCount(document_block_end, 2, document_wait))
        << mirror.out() << mirror.err();

    const auto blocks = kelno_test::mirror_blocks_of(mirror.out(), app_id);
    ASSERT_GE(blocks.size(), 2u) << mirror.out();
    expect_tester_documents(blocks);
    // Its own lines may trail behind what the mirror has already printed.
    EXPECT_TRUE(tester.waitForOutCount("Sending json payload.\n", 2)) << tester.out();

    expect_ends_on_sigint(tester, "Closing down json mirror tester...\n");
    expect_ends_on_sigint(mirror, "Closing down mirrorer...\n");
}

TEST(JsonTraffic, DocumentsClimbAChainFromTheLowerNodeToTheUpperNode) {
    DaemonProcess upper(DaemonOptions{"upper", std::nullopt, 1, ""});
    DaemonProcess lower(DaemonOptions{"lower", upper.channelerEndpoint(), 1, ""});
    ChildProcess mirror = start_mirror(upper);
    ASSERT_TRUE(wait_until_mirror_listens(upper, mirror)) << mirror.out() << mirror.err();

    ChildProcess tester = start_tester(lower);
    ASSERT_TRUE(mirror.waitForOut(document_block_end, document_wait))
        << mirror.out() << mirror.err() << tester.out() << tester.err();
    const auto blocks = kelno_test::mirror_blocks_of(mirror.out(), app_id);
    ASSERT_FALSE(blocks.empty()) << mirror.out();
    expect_tester_documents(blocks);

    expect_ends_on_sigint(tester, "Closing down json mirror tester...\n");
    expect_ends_on_sigint(mirror, "Closing down mirrorer...\n");
}

}  // namespace
