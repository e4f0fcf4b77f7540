// kelno.stats.interval: the node's statistics document on its broadcaster,
// checked against traffic whose counts are known, and the setting off.
#include <gtest/gtest.h>
#include <zmq.h>

#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"
#include "StatsReader.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

using nlohmann::json;

const std::string stats_topic = "kelno.stats";
const std::string stats_every_second = "kelno.stats.interval=1\n";

// The value of a header frame ("name|value") of a message's frames.
std::string header_of(const Frames& frames, const std::string& name) {
    for (const auto& frame : frames) {
        if (frame.rfind(name + "|", 0) == 0) return frame.substr(name.size() + 1);
    }
    return {};
}

// A local application's channel, sending messages and reading each reply.
Frames reply_to(RawPeer& channel, const Frames& request) {
    channel.send(request);
    auto reply = channel.receive();
    return reply ? *reply : Frames{};
}

WireMessage message_to(const std::string& route, const std::string& payload) {
    WireMessage message;
    if (!route.empty()) message.routes = {route};
    message.payload = payload;
    return message;
}

json no_drops() {
    return {{"channeler_queue_full", 0},  {"upstream_queue_full", 0},
            {"subscriber_queue_full", 0}, {"duplicate", 0},
            {"store_bound", 0},           {"expired", 0}};
}

// Two nodes, both publishing statistics: 4 messages without a route and 2
// kept for "elsewhere" come in at the bottom and go up; the top keeps the
// two until one is polled for and acknowledged there; one message kept at
// the top for the bottom comes down at the bottom's poll.
TEST(Statistics, CountTheTrafficOfTwoNodes) {
    DaemonProcess top({"top", std::nullopt, 1, stats_every_second});
    DaemonProcess bottom({"bottom", top.channelerEndpoint(), 1, stats_every_second});
    StatsReader top_stats(top);
    StatsReader bottom_stats(bottom);

    // The first document: its message, and the node before any traffic.
    Frames frames;
    auto first = bottom_stats.next(&frames);
    ASSERT_TRUE(first);
    WireMessage expected_publication;
    expected_publication.app_id = stats_topic;
    expected_publication.id = header_of(frames, "id");
    expected_publication.payload = frames.back();
    expected_publication.type = "JSON";
    expected_publication.valid_for = "1";
    expected_publication.ack_mode = "0";
    EXPECT_EQ(frames, publication_frames(expected_publication));
    EXPECT_EQ(frames.back(), first->dump()) << "compact";
    EXPECT_EQ((*first)["node"], "bottom");
    EXPECT_EQ((*first)["messages_received"], 0);
    ASSERT_TRUE(top_stats.next());

    RawPeer bottom_app(ZMQ_DEALER);
    bottom_app.connect(bottom.channelerEndpoint());
    std::vector<WireMessage> sent;
    for (int i = 0; i < 4; ++i) sent.push_back(message_to("", "hello"));
    sent.push_back(message_to("elsewhere", "kept-01"));
    sent.push_back(message_to("elsewhere", "kept-02"));
    for (const auto& message : sent) {
        ASSERT_EQ(reply_to(bottom_app, message.frames()), ack_frames(message.id));
    }
    RawPeer top_app(ZMQ_DEALER);
    top_app.connect(top.channelerEndpoint());
    const WireMessage for_bottom = message_to("bottom", "down");
    ASSERT_EQ(reply_to(top_app, for_bottom.frames()), ack_frames(for_bottom.id));

    json below = bottom_stats.until([](const json& d) {
        return d["messages_published"] == 7 && d["messages_stored"] == 0 &&
               d["upstream"]["unacknowledged"] == 0;
    });
    json above = top_stats.until([](const json& d) { return d["messages_stored"] == 2; });
    EXPECT_EQ(above["bytes_stored"], 14);

    // One of the two kept for "elsewhere" is fetched and acknowledged at the top.
    const Frames handed_over = reply_to(top_app, inbox_frames("elsewhere", "clnt"));
    const std::string fetched_id = header_of(handed_over, "id");
    ASSERT_FALSE(fetched_id.empty());
    top_app.send(ack_frames(fetched_id));
    // Every copy that came down was confirmed to the top; only the first was
    // published below, the others count as duplicates.
    const auto came_down = below["messages_from_upstream"].get<int>();
    above = top_stats.until([&](const json& d) {
        return d["messages_stored"] == 1 && d["acknowledgements_received"] == 1 + came_down;
    });

    json below_drops = no_drops();
    below_drops["duplicate"] = came_down - 1;
    EXPECT_GE(came_down, 1);
    const json bottom_expected = {{"node", "bottom"},
                                  {"messages_received", 6},
                                  {"messages_from_upstream", came_down},
                                  {"messages_forwarded", 6},
                                  {"messages_published", 7},
                                  {"messages_stored", 0},
                                  {"bytes_stored", 0},
                                  {"acknowledgements_received", 0},
                                  {"inbox_polls_received", 0},
                                  {"inbox_polls_answered", 0},
                                  {"drops", below_drops},
                                  {"peers", 0}};
    for (const auto& [name, value] : bottom_expected.items()) EXPECT_EQ(below[name], value) << name;
    EXPECT_EQ(below["upstream"]["remote"], top.channelerEndpoint());
    EXPECT_EQ(below["upstream"]["connected"], true);
    // The top's acknowledgements came within the last interval or two.
    EXPECT_LE(below["upstream"]["last_answer_age_seconds"].get<int>(), 2) << below.dump();
    EXPECT_GE(below["uptime_seconds"].get<int>(), 1);

    const json top_expected = {{"node", "top"},
                               {"messages_received", 7},
                               {"messages_from_upstream", 0},
                               {"messages_forwarded", 0},
                               {"messages_published", 7},
                               {"messages_stored", 1},
                               {"bytes_stored", 7},
                               {"acknowledgements_received", 1 + came_down},
                               {"inbox_polls_answered", 1 + came_down},
                               {"drops", no_drops()},
                               {"upstream", nullptr},
                               {"peers", 1}};
    for (const auto& [name, value] : top_expected.items()) EXPECT_EQ(above[name], value) << name;
    // The bottom polls every second besides the application's one poll.
    EXPECT_GE(above["inbox_polls_received"].get<int>(), 2);

    expect_orderly_stop(bottom);
    expect_orderly_stop(top);
}

// Below a fake upstream node that hands the same message down three times and
// acknowledges a message it was never sent: every copy is counted, only the
// first is published, and what is unacknowledged never goes below zero.
TEST(Statistics, CountCopiesFromUpstreamAndNeverOweBelowZero) {
    RawPeer upstream(ZMQ_ROUTER);
    const std::string endpoint = upstream.bindLoopback();
    DaemonProcess node({"low", endpoint, 1, stats_every_second});
    StatsReader reader(node);
    auto poll = upstream.receive();
    ASSERT_TRUE(poll);
    const std::string forwarder = poll->front();
    const json before =
        reader.until([](const json& d) { return d["upstream"]["connected"] == true; });
    EXPECT_EQ(before["upstream"]["last_answer_age_seconds"], nullptr) << "nothing came down yet";

    WireMessage kept;
    kept.routes = {"low"};
    Frames handed_over{forwarder};
    for (const auto& frame : kept.frames()) handed_over.push_back(frame);
    for (int copy = 0; copy < 3; ++copy) upstream.send(handed_over);
    Frames stray_ack{forwarder};
    for (const auto& frame : ack_frames(fresh_message_id())) stray_ack.push_back(frame);
    upstream.send(stray_ack);

    const json after = reader.until([](const json& d) { return d["messages_from_upstream"] == 3; });
    EXPECT_EQ(after["messages_from_upstream"], 3);
    EXPECT_EQ(after["drops"]["duplicate"], 2);
    EXPECT_EQ(after["messages_published"], 1);
    EXPECT_EQ(after["messages_forwarded"], 0);
    EXPECT_EQ(after["upstream"]["unacknowledged"], 0);
    EXPECT_LE(after["upstream"]["last_answer_age_seconds"].get<int>(), 2) << after.dump();
    expect_orderly_stop(node);
}

// What the store lets go is counted by reason: bounds (the oldest made room,
// or a payload too large on its own) and expiry.
TEST(Statistics, CountWhatTheStoreLetsGo) {
    DaemonProcess node({"node", std::nullopt, 1,
                        "kelno.store.max_messages=2\nkelno.store.max_bytes=10\n"
                        "kelno.store.expire=true\n" +
                            stats_every_second});
    StatsReader reader(node);
    ASSERT_TRUE(reader.next());
    RawPeer app(ZMQ_DEALER);
    app.connect(node.channelerEndpoint());
    WireMessage short_lived = message_to("r", "brief");
    short_lived.valid_for = "1";
    // The third makes the first go; the large one is not kept; the short-lived
    // one makes the second go, then expires.
    for (const WireMessage& message :
         {message_to("r", "first"), message_to("r", "secnd"), message_to("r", "third"),
          message_to("r", "far too large"), short_lived}) {
        ASSERT_EQ(reply_to(app, message.frames()), ack_frames(message.id));
    }
    const json document = reader.until([](const json& d) { return d["drops"]["expired"] == 1; });
    EXPECT_EQ(document["drops"]["expired"], 1) << document.dump();
    EXPECT_EQ(document["drops"]["store_bound"], 3);
    EXPECT_EQ(document["messages_stored"], 1);
    EXPECT_EQ(document["bytes_stored"], 5);
    expect_orderly_stop(node);
}

// Member names as the README's table lists them: nested ones as "drops.duplicate".
std::set<std::string> member_names(const json& document, const std::string& prefix = "") {
    std::set<std::string> names;
    for (const auto& [name, value] : document.items()) {
        names.insert(prefix + name);
        if (value.is_object()) {
            for (const auto& inner : member_names(value, prefix + name + ".")) names.insert(inner);
        }
    }
    return names;
}

std::set<std::string> readme_stats_members() {
    std::ifstream readme(KELNO_README_PATH);
    std::string line;
    while (std::getline(readme, line) && line != "| Member | Meaning |") {
    }
    std::set<std::string> names;
    const std::regex row(R"(^\| `([a-z0-9_.]+)` \|)");
    while (std::getline(readme, line) && line.rfind("|", 0) == 0) {
        std::smatch match;
        if (std::regex_search(line, match, row)) names.insert(match[1]);
    }
    return names;
}

// With an upstream node and a store file, so that every member is there.
TEST(Statistics, TheReadmeNamesEveryMemberAndNoOther) {
    TempDir dir;
    DaemonProcess top({"top", std::nullopt, 1, ""});
    // Reliable, with a store file: the document has every member.
    DaemonProcess bottom({"bottom", top.channelerEndpoint(), 1,
                          stats_every_second + "kelno.store.path=" + dir.path() +
                              "/store.db\nkelno.chain.reliable=true\n"});
    LocalClient client(bottom);
    WireMessage routed;
    routed.routes = {"elsewhere"};
    ASSERT_EQ(client.request(routed.frames()), ack_frames(routed.id));  // one commit
    StatsReader reader(bottom);
    auto document = reader.next();
    ASSERT_TRUE(document);
    EXPECT_EQ(readme_stats_members(), member_names(*document));
    EXPECT_EQ((*document)["store_file"]["path"], dir.path() + "/store.db");
    EXPECT_GE((*document)["store_file"]["commits"], 1);
    EXPECT_EQ((*document)["store_file"]["commit_failures"], 0);
    EXPECT_GT((*document)["store_file"]["commit_ms_max"], 0.0);
    expect_orderly_stop(bottom);
    expect_orderly_stop(top);
}

// The sum of the sends that a peer's reports say were dropped while its queue
// was full.
std::uint64_t reported_drops(const std::string& err, const std::string& label) {
    const std::regex report(label + R"(: (send queue accepts again|gone), (\d+) sends dropped)");
    std::uint64_t sum = 0;
    for (std::sregex_iterator it(err.begin(), err.end(), report), end; it != end; ++it) {
        sum += std::stoull((*it)[2]);
    }
    return sum;
}

// A peer that stops reading: the drops the document counts are exactly those
// the node reported for it, once it reads again or is gone.
TEST(Statistics, CountTheDropsOfAStuckPeer) {
    const struct {
        const char* peer;
        const char* queue_setting;
        const char* label;  // how the node's reports name the peer
        const char* member;
    } cases[] = {
        {"subscriber", "kelno.broadcaster.send_queue=100\n", "broadcaster subscriber",
         "subscriber_queue_full"},
        {"client", "kelno.channeler.send_queue=100\n", "peer stuck-client", "channeler_queue_full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        DaemonProcess node(
            {"node", std::nullopt, 1, std::string(c.queue_setting) + stats_every_second});
        StatsReader reader(node);
        ASSERT_TRUE(reader.next());
        const bool stuck_client = std::string(c.peer) == "client";
        auto stuck = std::make_unique<RawPeer>(stuck_client ? ZMQ_DEALER : ZMQ_SUB,
                                               stuck_client ? "stuck-client" : "");
        stuck->readSlowly();
        if (!stuck_client) stuck->subscribe("");
        stuck->connect(stuck_client ? node.channelerEndpoint() : node.broadcasterEndpoint());
        RawPeer flooder(ZMQ_DEALER);
        flooder.connect(node.channelerEndpoint());
        RawPeer& sender = stuck_client ? *stuck : flooder;

        WireMessage busy;
        busy.app_id = "busy";
        busy.payload = std::string(1024, 'f');
        const Frames flood = busy.frames();
        const std::string full = std::string(c.label) + ": send queue full";
        int sent = 0;
        for (int batch = 0; batch < 100 && !node.process().waitForErr(full, 0s); ++batch) {
            for (int i = 0; i < 1000; ++i, ++sent) sender.send(flood);
        }
        ASSERT_TRUE(node.process().waitForErr(full)) << node.process().err();
        // Every message is in before the peer goes, so no acknowledgement of
        // the flood is left to fill a queue after the count below is read.
        const json taken_in =
            reader.until([&](const json& d) { return d["messages_received"] == sent; }, 60s);
        ASSERT_EQ(taken_in["messages_received"], sent);

        // It goes; a client comes back under its identity and is heard.
        stuck.reset();
        if (stuck_client) {
            RawPeer back(ZMQ_DEALER, "stuck-client");
            back.connect(node.channelerEndpoint());
            WireMessage hello;
            EXPECT_EQ(reply_to(back, hello.frames()), ack_frames(hello.id));
        }
        // The queue may have filled more than once; each time is reported
        // when it ends, with its count.
        const auto episodes_ended = [&] {
            const std::string err = node.process().err();
            const std::string label = c.label;
            return count_of(err, label + ": send queue full") ==
                   count_of(err, label + ": send queue accepts again") +
                       count_of(err, label + ": gone, ");
        };
        const json document = reader.until([&](const json& d) {
            return episodes_ended() &&
                   d["drops"][c.member] == reported_drops(node.process().err(), c.label);
        });
        EXPECT_TRUE(episodes_ended()) << node.process().err();
        EXPECT_GE(document["drops"][c.member], 1);
        EXPECT_EQ(document["drops"][c.member], reported_drops(node.process().err(), c.label))
            << document.dump();
        // A publication that missed a full subscriber still reached the others.
        EXPECT_EQ(document["messages_received"], sent + (stuck_client ? 1 : 0));
        EXPECT_EQ(document["messages_published"], document["messages_received"]);
        expect_orderly_stop(node);
    }
}

// Off, the node publishes nothing under kelno.stats and says nothing of it.
TEST(Statistics, OffWithoutTheSettingOrWithZero) {
    for (const char* setting : {"", "kelno.stats.interval=0\n"}) {
        SCOPED_TRACE(setting);
        DaemonProcess node({"node", std::nullopt, 1, setting});
        LocalClient client(node, {stats_topic});
        EXPECT_FALSE(client.nextPublication(std::chrono::milliseconds(2500)));
        EXPECT_EQ(node.process().out().find("Statistics"), std::string::npos);
        expect_orderly_stop(node);
    }
    DaemonProcess on({"node", std::nullopt, 1, "kelno.stats.interval=3\n"});
    EXPECT_TRUE(on.process().waitForOut("Statistics every 3 seconds on kelno.stats.\n"));
    expect_orderly_stop(on);
}

// The document is JSON text whatever the node is called: bytes of the name
// that are not UTF-8 are replaced instead of failing the node.
TEST(Statistics, ANameThatIsNotUtf8IsReplaced) {
    DaemonProcess node({"node\xff", std::nullopt, 1, stats_every_second});
    StatsReader reader(node);
    auto document = reader.next();
    ASSERT_TRUE(document);
    EXPECT_EQ((*document)["node"], "node\xef\xbf\xbd");
    expect_orderly_stop(node);
}

TEST(Statistics, BadIntervalsAreRefused) {
    for (const char* value : {"-1", "soon", "1.5", "", "86401", "99999999999999999999"}) {
        SCOPED_TRACE(value);
        TempDir dir;
        const std::string config = dir.write(
            "bad.conf", std::string("kelno.node_name=n\nkelno.stats.interval=") + value + "\n");
        ChildProcess bad({kelnod_path(), config});
        EXPECT_EQ(bad.waitExit(), 1);
        EXPECT_EQ(bad.err(),
                  std::string("kelno.stats.interval must be a whole number of seconds from 0 "
                              "(off) to 86400 (read \"") +
                      value + "\")\n");
    }
}

}  // namespace
}  // namespace kelno_test
