// Peers that stop reading, and upstream nodes that stop answering, never hold
// up a node: its queue for such a peer is bounded, what does not fit is
// dropped and reported once, and every other peer is served as before.
#include <gtest/gtest.h>
#include <signal.h>
#include <zmq.h>

#include <memory>
#include <string>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

constexpr int kFloodSize = 10000;
constexpr int kFloodBatch = 1000;
constexpr int kMostBatches = 100;
constexpr int kHealthyPerBatch = 20;

// A message of a busy application, sent by a peer that will not read its
// acknowledgements.
Frames flood_message(const std::string& app_id) {
    WireMessage message;
    message.app_id = app_id;
    message.payload = std::string(1024, 'f');
    return message.frames();
}

// Sends a batch of messages as a healthy local client and expects each to be
// acknowledged and published (with `origin` as the node publishes it).
void expect_served(LocalClient& client, int batch, const std::string& origin) {
    for (int i = 0; i < kHealthyPerBatch; ++i) {
        SCOPED_TRACE("healthy message " + std::to_string(i) + " of batch " + std::to_string(batch));
        WireMessage message;
        ASSERT_EQ(client.request(message.frames()), ack_frames(message.id));
        WireMessage published = message;
        published.origin = origin;
        ASSERT_EQ(client.nextPublication(), publication_frames(published));
    }
}

// Sends the flood in batches, with healthy traffic served between them: at
// least kFloodSize messages, and on until `node` reports a full queue (how
// much the kernel's socket buffers take besides the queue varies).
void flood_while_serving(RawPeer& flooder, LocalClient& healthy, DaemonProcess& node,
                         const std::string& origin = ",") {
    const Frames flood = flood_message("busy");
    for (int batch = 0; batch < kMostBatches; ++batch) {
        if (batch * kFloodBatch >= kFloodSize && node.process().waitForErr("send queue full", 0s)) {
            return;
        }
        for (int i = 0; i < kFloodBatch; ++i) flooder.send(flood);
        expect_served(healthy, batch, origin);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// The queues are kept small so that they fill well within the flood whatever
// the kernel's socket buffers hold besides.
// A full queue is reported when it fills, not for every send it drops. It may
// fill again after the kernel took some of it, so there can be a few.
void expect_few_reports(DaemonProcess& daemon) {
    const std::size_t reports = count_of(daemon.process().err(), "send queue full");
    EXPECT_GE(reports, 1u);
    EXPECT_LT(reports, 50u) << daemon.process().err();
}

TEST(StuckPeer, AClientThatStopsReadingIsReportedAndNoOneElseWaits) {
    DaemonProcess daemon({"node", std::nullopt, 1, "kelno.channeler.send_queue=100\n"});
    LocalClient healthy(daemon);
    auto stuck = std::make_unique<RawPeer>(ZMQ_DEALER, "stuck-client");
    stuck->readSlowly();
    stuck->connect(daemon.channelerEndpoint());

    flood_while_serving(*stuck, healthy, daemon);
    ASSERT_TRUE(daemon.process().waitForErr(
        "peer stuck-client: send queue full, acknowledgement of message "));
    expect_few_reports(daemon);

    // The application restarts under the same identity and reads again; the
    // node says how much its previous run missed.
    stuck.reset();
    LocalClient restarted(daemon, {}, "stuck-client");
    EXPECT_TRUE(daemon.process().waitForErr("peer stuck-client: send queue accepts again, "));
    EXPECT_TRUE(daemon.process().waitForErr(" sends dropped while it was full\n"));
    expect_orderly_stop(daemon);
}

// A subscriber that stops reading misses publications: the node says so once
// instead of dropping them unseen, and every other subscriber still gets them.
TEST(StuckPeer, ASubscriberThatStopsReadingIsReportedAndOthersStillReceive) {
    DaemonProcess daemon({"node", std::nullopt, 1, "kelno.broadcaster.send_queue=100\n"});
    LocalClient healthy(daemon);
    RawPeer flooder(ZMQ_DEALER, "flooder");
    flooder.connect(daemon.channelerEndpoint());
    auto stuck = std::make_unique<RawPeer>(ZMQ_SUB);
    stuck->readSlowly();
    stuck->subscribe("");
    stuck->connect(daemon.broadcasterEndpoint());

    flood_while_serving(flooder, healthy, daemon);
    ASSERT_TRUE(daemon.process().waitForErr(
        "broadcaster subscriber: send queue full, publication of message "));
    expect_few_reports(daemon);

    stuck.reset();
    WireMessage after;
    ASSERT_EQ(healthy.request(after.frames()), ack_frames(after.id));
    EXPECT_TRUE(daemon.process().waitForErr("broadcaster subscriber: send queue accepts again, "));
    expect_orderly_stop(daemon);
}

// The upstream node is stopped: the node's forwarder queue fills, messages
// no longer go up, and what has a route stays stored for inbox polls.
TEST(StuckPeer, AStoppedUpstreamNodeHoldsUpNoLocalClient) {
    DaemonProcess top({"top", std::nullopt, 1, ""});
    DaemonProcess bottom(
        {"bottom", top.channelerEndpoint(), 1, "kelno.forwarder.send_queue=100\n"});
    LocalClient healthy(bottom);
    RawPeer flooder(ZMQ_DEALER, "flooder");
    flooder.connect(bottom.channelerEndpoint());

    top.process().signal(SIGSTOP);
    flood_while_serving(flooder, healthy, bottom, "bottom,");
    const std::string upstream_full = "peer " + top.channelerEndpoint() + ": send queue full, ";
    EXPECT_TRUE(bottom.process().waitForErr(upstream_full));
    expect_few_reports(bottom);

    // A routed message that could not go up is still handed to its node.
    WireMessage routed;
    routed.routes = {"elsewhere"};
    ASSERT_EQ(healthy.request(routed.frames()), ack_frames(routed.id));
    WireMessage kept = routed;
    kept.origin = "bottom,";  // appended on the way up, as for any message passed up
    EXPECT_EQ(healthy.request(inbox_frames("elsewhere", "clnt")), kept.frames());

    top.process().signal(SIGCONT);
    EXPECT_TRUE(bottom.process().waitForErr(
        "peer " + top.channelerEndpoint() + ": send queue accepts again, ", 30s));
    expect_orderly_stop(bottom);
    expect_orderly_stop(top);
}

// A limit that would mean "no limit" to ZeroMQ refuses to start.
TEST(StuckPeer, SendQueueLimitsBelowOneAreRefused) {
    for (const char* setting : {"kelno.channeler.send_queue=0", "kelno.forwarder.send_queue=-5",
                                "kelno.broadcaster.send_queue=none"}) {
        SCOPED_TRACE(setting);
        TempDir dir;
        const std::string config =
            dir.write("bad.conf", std::string("kelno.node_name=n\n") + setting + "\n");
        ChildProcess bad({kelnod_path(), config});
        EXPECT_EQ(bad.waitExit(), 1);
        const std::string key = std::string(setting).substr(0, std::string(setting).find('='));
        EXPECT_NE(bad.err().find(key + " must be at least 1"), std::string::npos) << bad.err();
    }
}

}  // namespace
}  // namespace kelno_test
