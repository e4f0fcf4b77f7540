// A kelnod below a fake upstream node (a raw ROUTER): what it passes up, its
// inbox polls, and its handling of what comes down the forwarder.
#include <gtest/gtest.h>
#include <zmq.h>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

class Forwarder : public ::testing::Test {
protected:
    Forwarder() {
        // The first inbox poll tells us the forwarder's identity.
        auto poll = upstream.receive();
        if (!poll) throw std::runtime_error("no inbox poll from the node");
        forwarder_identity = poll->front();
    }

    void TearDown() override { expect_orderly_stop(daemon); }

    // The next request from the node, without the identity frame; inbox polls
    // (one per interval) and the client's probes are skipped.
    std::optional<Frames> nextFromNode() {
        while (auto request = upstream.receive()) {
            Frames frames(request->begin() + 1, request->end());
            if (frames != inbox_frames("low", "node") && !is_probe(frames)) return frames;
        }
        return std::nullopt;
    }

    void sendDown(const Frames& frames) {
        Frames routed{forwarder_identity};
        routed.insert(routed.end(), frames.begin(), frames.end());
        upstream.send(routed);
    }

    RawPeer upstream{ZMQ_ROUTER};
    std::string upstream_endpoint = upstream.bindLoopback();
    DaemonProcess daemon{{"low", upstream_endpoint, 1, ""}};
    LocalClient client{daemon};
    std::string forwarder_identity;
};

TEST_F(Forwarder, IdentifiesItselfByNodeNameAndPollsItsInboxEveryInterval) {
    EXPECT_EQ(forwarder_identity.substr(0, 8), "low|fwd|");
    EXPECT_EQ(forwarder_identity.size(), 8u + 36u);
    Frames expected_poll{forwarder_identity};
    for (auto& frame : inbox_frames("low", "node")) expected_poll.push_back(frame);
    // The probes that the client passed up come in between.
    std::optional<Frames> request;
    while ((request = upstream.receive(std::chrono::seconds(5))) && request->at(2) == "MSG") {
    }
    EXPECT_EQ(request, expected_poll);
}

TEST_F(Forwarder, PassesMessagesUpWithItsNameAppendedAndPublishesThem) {
    WireMessage message;
    message.routes = {"top"};
    message.origin = "below,";
    ASSERT_EQ(client.request(message.frames()), ack_frames(message.id));

    WireMessage passed_up = message;
    passed_up.origin = "below,low,";
    EXPECT_EQ(nextFromNode(), passed_up.frames());
    // Published as passed up: the name appended once.
    EXPECT_EQ(client.nextPublication(), publication_frames(passed_up));
    // Kept (with the name) until the upstream node acknowledges it.
    EXPECT_EQ(client.request(inbox_frames("top", "clnt")), passed_up.frames());
    sendDown(ack_frames(message.id));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("top"));
}

TEST_F(Forwarder, AcknowledgesAndPublishesWhatComesDownWithoutKeepingIt) {
    // A node's inbox poll under a fresh name marks a point in the node's
    // output: once the registry line naming it has been read, so has every
    // line printed before it (the client's probes among them).
    int marks = 0;
    auto received_so_far = [&] {
        const std::string mark = "mark" + std::to_string(++marks);
        RawPeer marker(ZMQ_DEALER, mark + "|x");
        marker.connect(daemon.channelerEndpoint());
        marker.send(inbox_frames(mark, "node"));
        EXPECT_TRUE(daemon.process().waitForOut("\"" + mark + "\":null"));
        return count_of(daemon.process().out(), "Received MSG");
    };
    const auto announced = received_so_far();
    WireMessage message;
    message.routes = {"low"};
    message.origin = "up,";
    sendDown(message.frames());

    EXPECT_EQ(nextFromNode(), ack_frames(message.id));
    // Published as received: no origin appended, not passed up again.
    EXPECT_EQ(client.nextPublication(), publication_frames(message));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("low"));
    EXPECT_EQ(received_so_far(), announced);
}

TEST_F(Forwarder, AnswersARegistryQueryFromUpstream) {
    sendDown(registry_query_frames());
    EXPECT_EQ(nextFromNode(), registry_reply_frames("null"));
    EXPECT_TRUE(daemon.process().waitForOut("Get reg on forwarder\n"));
}

TEST_F(Forwarder, IgnoresOtherKindsAndBadRequestsFromUpstream) {
    sendDown(inbox_frames("low", "node"));
    sendDown(registry_reply_frames("{}"));
    sendDown({delimiter, "NOPE", delimiter, delimiter});
    WireMessage bad_validity;
    bad_validity.valid_for = "soon";
    sendDown(bad_validity.frames());
    // Still served in order: the next query is answered.
    sendDown(registry_query_frames());
    EXPECT_EQ(nextFromNode(), registry_reply_frames("null"));
    EXPECT_TRUE(daemon.process().waitForErr("stoll"));
}

// A standard conversion error in what comes down takes the rest of its
// message with it: the next message is read from its start and handled.
TEST_F(Forwarder, HandlesTheMessageAfterAMalformedOne) {
    const struct {
        const char* name;
        void (*spoil)(WireMessage&);
    } cases[] = {
        {"non-numeric valid_for", [](WireMessage& m) { m.valid_for = "soon"; }},
        {"non-numeric p_size", [](WireMessage& m) { m.payload_size = "two"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WireMessage bad;
        c.spoil(bad);
        sendDown(bad.frames());
        WireMessage good;
        sendDown(good.frames());
        EXPECT_EQ(nextFromNode(), ack_frames(good.id));
        EXPECT_EQ(client.nextPublication(), publication_frames(good));
    }
}

// An upstream node answers every piled-up poll with the same kept message:
// each copy is acknowledged, so the upstream node drops it, but it is
// published here once.
TEST_F(Forwarder, CopiesFromUpstreamAreAllAcknowledgedAndPublishedOnce) {
    WireMessage message;
    message.routes = {"low"};
    for (int copy = 0; copy < 3; ++copy) sendDown(message.frames());
    WireMessage next;
    sendDown(next.frames());

    for (int copy = 0; copy < 3; ++copy) EXPECT_EQ(nextFromNode(), ack_frames(message.id));
    EXPECT_EQ(nextFromNode(), ack_frames(next.id));
    EXPECT_EQ(client.nextPublication(), publication_frames(message));
    EXPECT_EQ(client.nextPublication(), publication_frames(next)) << "a copy was published";
}

}  // namespace
}  // namespace kelno_test
