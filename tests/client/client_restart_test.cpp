// A kelnom::Client whose daemon is restarted on the same ports goes on without
// being rebuilt: ZeroMQ reconnects both of its sockets by itself.
#include <gtest/gtest.h>

#include <string>

#include "DaemonProcess.hpp"
#include "client_harness.hpp"

namespace client_test {
namespace {

// Publishes probes until one more has come back than before: the listener's
// subscription has reached the (new) daemon.
bool await_own_subscription(RecordingClient& client) {
    const std::size_t seen = client.received.count(kProbe);
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        send_text(*client.client, kProbe);
        if (client.received.waitForCount(kProbe, seen + 1, 100ms)) return true;
    }
    return false;
}

TEST(ClientRestart, SendsAndReceivesAgainAfterItsDaemonRestarts) {
    kelno_test::DaemonProcess daemon;
    RecordingClient client(daemon, "restarted", {"restarted"});
    client.start();
    ASSERT_TRUE(await_own_subscription(client));
    client.sendRecorded("before");
    ASSERT_TRUE(client.acked.waitForCount("before", 1));
    ASSERT_TRUE(client.received.waitForCount("before", 1));

    ASSERT_EQ(daemon.stop(), 0);
    // Written while no daemon listens: ZeroMQ keeps it in the dispenser's
    // queue and hands it to the new daemon once connected.
    client.sendRecorded("while away");
    daemon.restart();

    EXPECT_TRUE(client.acked.waitForCount("while away", 1));
    ASSERT_TRUE(await_own_subscription(client));
    client.sendRecorded("after");
    EXPECT_TRUE(client.acked.waitForCount("after", 1));
    EXPECT_TRUE(client.received.waitForCount("after", 1));
    EXPECT_TRUE(client.io->errors().all().empty()) << client.io->errors().all().front();
}

}  // namespace
}  // namespace client_test
