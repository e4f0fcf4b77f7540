// An upstream node that stops for a while (SIGSTOP, as an overloaded or
// swapped-out gateway would) while the node below polls it every second. The
// node below notices that the link no longer answers and stops polling, so
// polls do not pile up; when the upstream node goes on, the message it keeps
// for the node below is published there exactly once.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

constexpr auto kStall = std::chrono::seconds(20);
// Polls sent before the node below finds the link silent (its heartbeat
// allows four seconds), each answered with the same message later, plus the
// poll after the link is back: far fewer than one per second of the stall.
constexpr std::size_t kMostHandovers = 8;

TEST(StalledUpstream, KeptMessageIsPublishedBelowExactlyOnce) {
    DaemonProcess top(DaemonOptions{"top", std::nullopt, 1, ""});
    DaemonProcess bottom(DaemonOptions{"bottom", top.channelerEndpoint(), 1, ""});
    LocalClient sender(top);
    LocalClient receiver(bottom);
    ASSERT_TRUE(top.process().waitForOut("Received BOX", 10s)) << "the node below never polled";

    top.process().signal(SIGSTOP);
    WireMessage message;
    message.routes = {"bottom"};
    sender.channel.send(message.frames());  // waits in the stopped node's socket
    std::this_thread::sleep_for(kStall);
    top.process().signal(SIGCONT);

    ASSERT_EQ(receiver.nextPublication(60s), publication_frames(message));
    // Later polls find nothing: the first copy's acknowledgement removed it.
    const std::size_t polls = count_of(top.process().out(), "Received BOX");
    ASSERT_TRUE(top.process().waitForOutCount("Received BOX", polls + 3, 10s));
    EXPECT_EQ(receiver.nextPublication(500ms), std::nullopt) << "published twice";
    EXPECT_LE(count_of(top.process().out(), "We have an inboxed message"), kMostHandovers);
    EXPECT_TRUE(bottom.process().waitForErr(": link lost", 0s)) << bottom.process().err();

    expect_orderly_stop(bottom);
    expect_orderly_stop(top);
}

}  // namespace
}  // namespace kelno_test
