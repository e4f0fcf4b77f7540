// Other threads' requests reach a client's I/O loop while it waits: a queued
// message goes out and a termination is seen without waiting for a quiet poll.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

#include "DaemonProcess.hpp"
#include "client_harness.hpp"

namespace client_test {
namespace {

using kelno_test::DaemonProcess;
using kelnom::Client;

// Far beyond every bounded wait of these tests (kWait): a loop that only
// looked at its queue and flag after a quiet poll would fail them.
constexpr Client::Milliseconds kLongIoTimeout(60000);

TEST(ClientWakeUp, MessageQueuedWhileTheLoopWaitsGoesOutAtOnce) {
    DaemonProcess daemon;
    RecordingClient client(daemon, "waiting");
    client.io = std::make_unique<IoThread>(*client.client, kLongIoTimeout);
    // The first pass has written its queue and then its inbox poll: the loop
    // is on its way into the first long wait.
    ASSERT_TRUE(daemon.process().waitForOut("Received BOX"));

    // Each one is queued while the loop waits again after the previous ack.
    for (const std::string text : {"first", "second", "third"}) {
        client.sendRecorded(text);
        ASSERT_TRUE(client.acked.waitForCount(text, 1)) << text;
    }
    EXPECT_TRUE(daemon.process().waitForOutCount("Received MSG", 3));
    client.io->stop();  // terminate() wakes the loop as well
    EXPECT_TRUE(client.io->errors().all().empty());
}

TEST(ClientWakeUp, TerminateEndsTheLoopWhileInputKeepsArriving) {
    DaemonProcess daemon;
    RecordingClient source(daemon, "source");
    RecordingClient target(daemon, "target", {"source"});
    source.start();
    target.io = std::make_unique<IoThread>(*target.client, kLongIoTimeout);
    ASSERT_TRUE(await_subscriptions(source, {&target}));

    // Every delivery to the target brings on the next publication, so no poll
    // of the target's stays quiet for long while the feeder runs.
    const std::string tick = "tick";
    const std::string stop = "stop feeding";
    std::thread feeder([&] {
        for (std::size_t sent = 1;; ++sent) {
            send_text(*source.client, tick);
            const bool go_on = target.received.waitFor([&](const std::vector<std::string>& seen) {
                return std::count(seen.begin(), seen.end(), stop) > 0 ||
                       static_cast<std::size_t>(std::count(seen.begin(), seen.end(), tick)) >= sent;
            });
            if (!go_on || target.received.count(stop) > 0) return;
        }
    });
    const bool flowing = target.received.waitForCount(tick, 20);

    target.client->terminate();
    const bool returned = target.io->waitReturned();
    target.received.add(stop);
    feeder.join();
    ASSERT_TRUE(flowing);
    EXPECT_TRUE(returned);
    EXPECT_TRUE(target.io->errors().all().empty());
}

}  // namespace
}  // namespace client_test
