// Requests that do not follow the protocol never stop a node: each is
// reported, the rest of it is discarded, and the next request is served.
#include <gtest/gtest.h>
#include <signal.h>
#include <zmq.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "MalformedFrames.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

using namespace std::chrono_literals;

Frames plus(Frames frames, const Frames& more) {
    frames.insert(frames.end(), more.begin(), more.end());
    return frames;
}

// Garbage from a fixed seed, so a failure can be replayed.
std::vector<Frames> garbage_requests(std::size_t count) {
    std::mt19937 generator(20261210);
    std::uniform_int_distribution<int> frame_count(1, 9), frame_length(0, 40), byte(0, 255),
        pick(0, 9);
    const Frames words{delimiter, "MSG", "BOX", "ACK", "GREG", "REG", "p_size|3", "app_id|a"};
    std::vector<Frames> requests;
    for (std::size_t i = 0; i < count; ++i) {
        Frames frames;
        for (int f = frame_count(generator); f > 0; --f) {
            // Mostly protocol words, so the garbage gets past the first checks.
            int choice = pick(generator);
            if (choice < static_cast<int>(words.size())) {
                frames.push_back(words[choice]);
            } else {
                std::string bytes;
                for (int b = frame_length(generator); b > 0; --b) bytes += char(byte(generator));
                frames.push_back(bytes);
            }
        }
        requests.push_back(frames);
    }
    return requests;
}

class MalformedRequests : public ::testing::Test {
protected:
    void TearDown() override { expect_orderly_stop(daemon); }

    void expectStillServing() {
        WireMessage message;
        message.routes = {"after"};
        EXPECT_EQ(client.request(message.frames()), ack_frames(message.id));
        EXPECT_EQ(client.nextPublication(), publication_frames(message));
        EXPECT_FALSE(daemon.process().waitExit(std::chrono::milliseconds(0)));
    }

    DaemonProcess daemon;
    LocalClient client{daemon};
    RawPeer attacker{ZMQ_DEALER};
    void connectAttacker() { attacker.connect(daemon.channelerEndpoint()); }
};

TEST_F(MalformedRequests, EachFailureIsReportedAndTheNextRequestIsServed) {
    connectAttacker();
    for (const auto& malformed : malformed_frames()) attacker.send(malformed.frames);
    // Requests from one peer are served in order: this reply comes after all.
    attacker.send(registry_query_frames());
    auto reply = attacker.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, registry_reply_frames("null"));
    expectStillServing();

    // The daemon wrote every report before its reply, but the test's reader
    // of its standard error may not have taken them all from the pipe yet
    // (seen under qemu-user): each is waited for, boundedly, before counting.
    for (const auto& malformed : malformed_frames()) {
        EXPECT_TRUE(daemon.process().waitForErr(malformed.text)) << malformed.name;
    }
    // Each once: ours with the channeler's context line, standard conversion
    // errors as their bare text.
    const std::string err = daemon.process().err();
    std::size_t reports = 0;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const bool bare = std::any_of(malformed_frames().begin(), malformed_frames().end(),
                                      [&](const MalformedFrames& malformed) {
                                          return malformed.conversion && line == malformed.text;
                                      });
        if (bare || line.rfind("While receiving request on channeler. ", 0) == 0) ++reports;
    }
    for (const auto& malformed : malformed_frames()) {
        EXPECT_NE(err.find(malformed.text), std::string::npos) << malformed.name;
    }
    EXPECT_EQ(reports, malformed_frames().size());
}

TEST_F(MalformedRequests, GarbageFromAFixedSeedDoesNotStopTheNode) {
    connectAttacker();
    for (const auto& request : garbage_requests(500)) attacker.send(request);
    attacker.send(registry_query_frames());
    // Garbage may include well-formed queries; the daemon's answer to the last
    // one arrives in any case.
    std::optional<Frames> reply;
    while ((reply = attacker.receive()) && reply != registry_reply_frames("null")) {
    }
    EXPECT_TRUE(reply);
    expectStillServing();
}

// A peer that sends but never reads fills its queue of replies; further
// replies to it fail at once instead of blocking the node's only thread.
TEST_F(MalformedRequests, APeerThatNeverReadsDoesNotStallTheNode) {
    // Long node names make every registry reply a few kilobytes, so the
    // queues fill after a few thousand requests rather than a hundred thousand.
    for (char letter = 'a'; letter < 'q'; ++letter) {
        const std::string name(240, letter);
        RawPeer node(ZMQ_DEALER, name + "|fwd|x");
        node.connect(daemon.channelerEndpoint());
        node.send(inbox_frames(name, "node"));
        ASSERT_TRUE(daemon.process().waitForOut(name + "\":null}"));
    }
    RawPeer flooder(ZMQ_DEALER);
    flooder.readSlowly();
    flooder.connect(daemon.channelerEndpoint());
    for (int i = 0; i < 150000; ++i) {
        flooder.send(registry_query_frames());
        if (i % 100 == 0 && daemon.process().waitForErr("send queue full", 0s)) break;
    }
    ASSERT_TRUE(daemon.process().waitForErr("send queue full, registry reply dropped", 60s));
    expectStillServing();
}

// Frames after a request's termination are not a second request: otherwise a
// peer could name another peer's identity and have replies sent to it.
TEST_F(MalformedRequests, TrailingFramesCannotRedirectRepliesToAnotherPeer) {
    LocalClient victim(daemon, {}, "victim");
    WireMessage kept;
    kept.routes = {"kept"};
    ASSERT_TRUE(client.request(kept.frames()));

    connectAttacker();
    attacker.send(
        plus(registry_query_frames(), plus(Frames{"victim"}, inbox_frames("kept", "clnt"))));
    ASSERT_TRUE(attacker.receive());
    attacker.send(registry_query_frames());
    ASSERT_TRUE(attacker.receive());

    // Anything sent to the victim on the attacker's behalf would come first.
    EXPECT_EQ(victim.request(registry_query_frames()), registry_reply_frames("null"));
}

}  // namespace
}  // namespace kelno_test
