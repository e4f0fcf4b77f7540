// Nodes that end without warning and start again on the same ports: the
// chain heals by itself, and what was kept for a node while it was away still
// reaches it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

DaemonOptions top_node() {
    DaemonOptions options;
    options.node_name = "up";
    return options;
}

DaemonOptions node_below(const DaemonProcess& upstream) {
    DaemonOptions options;
    options.node_name = "down";
    options.upstream = upstream.channelerEndpoint();
    options.inbox_interval = 1;
    return options;
}

// What the upstream node prints when "down" polls it.
const std::string down_polled = "{\"down\":null}\n";

TEST(Restart, KilledDownstreamNodeGetsWhatWasKeptForItMeanwhile) {
    DaemonProcess up(top_node());
    DaemonProcess down(node_below(up));
    ASSERT_TRUE(up.process().waitForOut(down_polled));
    down.kill();

    LocalClient up_client(up);
    std::vector<Frames> kept;
    for (int i = 0; i < 3; ++i) {
        WireMessage message;
        message.routes = {"down"};
        message.payload = "kept " + std::to_string(i);
        ASSERT_EQ(up_client.request(message.frames()), ack_frames(message.id));
        kept.push_back(publication_frames(message));
    }

    // The restarted node polls at once; with the upstream node paused, the
    // answer waits until a subscriber is in place to see it.
    std::optional<Paused> paused(std::in_place, up.process());
    down.restart();
    LocalClient down_client(down);
    paused.reset();

    // One per poll, in the upstream store's order.
    std::vector<Frames> came_down;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        auto publication = down_client.nextPublication();
        ASSERT_TRUE(publication) << "only " << i << " of " << kept.size() << " came down";
        came_down.push_back(*publication);
    }
    std::sort(kept.begin(), kept.end());
    std::sort(came_down.begin(), came_down.end());
    EXPECT_EQ(came_down, kept);
    // The restarted node acknowledged each one up.
    EXPECT_TRUE(up_client.waitUntilNothingKeptFor("down"));

    expect_orderly_stop(down);
    expect_orderly_stop(up);
}

class UpstreamRestart : public ::testing::TestWithParam<int> {};

// The downstream node, never restarted, finds the new upstream process by
// itself: its polls and the messages it passes up reach it again.
TEST_P(UpstreamRestart, DownstreamNodeReachesItAgain) {
    DaemonProcess up(top_node());
    DaemonProcess down(node_below(up));
    ASSERT_TRUE(up.process().waitForOut(down_polled));
    if (GetParam() == SIGKILL) {
        up.kill();
    } else {
        ASSERT_EQ(up.stop(), 0);
    }
    up.restart();
    EXPECT_TRUE(up.process().waitForOut(down_polled)) << "no inbox poll after the restart";

    LocalClient up_client(up);
    LocalClient down_client(down);

    WireMessage for_down;
    for_down.routes = {"down"};
    ASSERT_EQ(up_client.request(for_down.frames()), ack_frames(for_down.id));
    EXPECT_EQ(up_client.nextPublication(), publication_frames(for_down));
    EXPECT_EQ(down_client.nextPublication(), publication_frames(for_down)) << "not polled down";

    WireMessage from_down;
    ASSERT_EQ(down_client.request(from_down.frames()), ack_frames(from_down.id));
    WireMessage passed_up = from_down;
    passed_up.origin = "down,";  // appended before it is passed up and published
    EXPECT_EQ(down_client.nextPublication(), publication_frames(passed_up));
    EXPECT_EQ(up_client.nextPublication(), publication_frames(passed_up)) << "not passed up";

    expect_orderly_stop(down);
    expect_orderly_stop(up);
}

INSTANTIATE_TEST_SUITE_P(TermAndKill, UpstreamRestart, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGKILL ? "Killed" : "Terminated";
                         });

}  // namespace
}  // namespace kelno_test
