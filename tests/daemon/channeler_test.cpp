// A single kelnod serving local clients on its channeler: receipt
// acknowledgements, publication, the store behind inbox polls, and the node
// registry.
#include <gtest/gtest.h>
#include <signal.h>
#include <zmq.h>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

class Channeler : public ::testing::Test {
protected:
    void TearDown() override { expect_orderly_stop(daemon); }

    DaemonProcess daemon{{"hub", std::nullopt, 1, ""}};
    LocalClient client{daemon};
};

TEST_F(Channeler, AcknowledgesReceiptAndPublishesTheMessageAsReceived) {
    WireMessage message;
    message.routes = {"nodeB", "nodeC"};
    message.ack_mode = "0";  // acknowledged whatever the mode
    message.origin = "far,";

    EXPECT_EQ(client.request(message.frames()), ack_frames(message.id));
    // Without an upstream node the origin nodes are passed on untouched.
    EXPECT_EQ(client.nextPublication(), publication_frames(message));
    EXPECT_TRUE(daemon.process().waitForOut("Received MSG\n"));
}

TEST_F(Channeler, PublishesUnderTheApplicationIdAsTopic) {
    LocalClient other_app(daemon, {"other"});
    WireMessage message;
    message.app_id = "other";
    client.channel.send(message.frames());

    EXPECT_EQ(other_app.nextPublication(), publication_frames(message));
    // The sender's own subscriber, on "app", receives nothing: the next thing it
    // sees is a later message under its own id.
    WireMessage own;
    client.channel.send(own.frames());
    EXPECT_EQ(client.nextPublication(), publication_frames(own));
}

TEST_F(Channeler, KeepsAMessageUnderItsFirstRouteUntilAcknowledged) {
    WireMessage message;
    message.routes = {"nodeB", "nodeA"};
    ASSERT_EQ(client.request(message.frames()), ack_frames(message.id));

    // Re-sent on every poll for its first route, node or client kind alike.
    LocalClient node_b(daemon, {}, "nodeB|fwd|1234");
    for (const char* kind : {"node", "clnt", "node"}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(node_b.request(inbox_frames("nodeB", kind)), message.frames());
    }
    EXPECT_TRUE(daemon.process().waitForOut("We have an inboxed message: " + message.id + "\n"));
    // Nothing under its second route.
    EXPECT_TRUE(client.waitUntilNothingKeptFor("nodeA"));

    // Any peer's acknowledgement removes it; there is no reply to it.
    client.channel.send(ack_frames(message.id));
    EXPECT_TRUE(node_b.waitUntilNothingKeptFor("nodeB"));
}

TEST_F(Channeler, HandsOutKeptMessagesOnePerPollInIdOrder) {
    WireMessage later;
    later.routes = {"box"};
    later.id = "bbbbbbbb-0000-0000-0000-000000000000";
    WireMessage earlier = later;
    earlier.id = "aaaaaaaa-0000-0000-0000-000000000000";
    WireMessage unrouted;  // never kept
    for (auto* message : {&later, &earlier, &unrouted}) {
        ASSERT_EQ(client.request(message->frames()), ack_frames(message->id));
    }

    EXPECT_EQ(client.request(inbox_frames("box", "clnt")), earlier.frames());
    client.channel.send(ack_frames(earlier.id));
    EXPECT_EQ(client.request(inbox_frames("box", "clnt")), later.frames());
    // An acknowledgement for an unknown id changes nothing.
    client.channel.send(ack_frames("unknown"));
    EXPECT_EQ(client.request(inbox_frames("box", "clnt")), later.frames());
    client.channel.send(ack_frames(later.id));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("box"));
}

TEST_F(Channeler, StoringTheSameIdAgainReplacesTheKeptMessage) {
    WireMessage first;
    first.routes = {"box"};
    WireMessage second = first;
    second.payload = "replacement";
    ASSERT_TRUE(client.request(first.frames()));
    ASSERT_TRUE(client.request(second.frames()));

    EXPECT_EQ(client.request(inbox_frames("box", "clnt")), second.frames());
    client.channel.send(ack_frames(first.id));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("box"));
}

TEST_F(Channeler, AnAcknowledgementRemovesOnlyTheFirstMatchInRouteOrder) {
    WireMessage under_b;
    under_b.routes = {"b"};
    WireMessage under_a = under_b;  // same id, kept under another route
    under_a.routes = {"a"};
    ASSERT_TRUE(client.request(under_b.frames()));
    ASSERT_TRUE(client.request(under_a.frames()));

    client.channel.send(ack_frames(under_b.id));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("a"));
    EXPECT_EQ(client.request(inbox_frames("b", "clnt")), under_b.frames());
    client.channel.send(ack_frames(under_b.id));
    EXPECT_TRUE(client.waitUntilNothingKeptFor("b"));
}

TEST_F(Channeler, RegistryListsPollingNodesOnlyInByteOrder) {
    EXPECT_EQ(client.request(registry_query_frames()), registry_reply_frames("null"));
    EXPECT_TRUE(daemon.process().waitForOut("Get reg on channeler\n"));

    // A client-kind poll does not register anyone.
    client.request(inbox_frames("app", "clnt"), std::chrono::milliseconds(0));
    EXPECT_EQ(client.request(registry_query_frames()), registry_reply_frames("null"));

    LocalClient node_b(daemon, {}, "B|fwd|one");
    LocalClient node_a(daemon, {}, "A|fwd|two");
    LocalClient node_b_again(daemon, {}, "B|fwd|restarted");
    LocalClient bare(daemon, {}, "C");  // no separator: the whole identity is the name
    for (auto* node : {&node_b, &node_a, &node_b_again, &bare}) {
        node->channel.send(inbox_frames("anything", "node"));
        node->channel.send(registry_query_frames());
        ASSERT_TRUE(node->channel.receive());
    }
    EXPECT_EQ(client.request(registry_query_frames()),
              registry_reply_frames(R"({"A":null,"B":null,"C":null})"));
    EXPECT_TRUE(daemon.process().waitForOut("{\"B\":null}\n"));
    EXPECT_TRUE(daemon.process().waitForOut("{\"A\":null,\"B\":null}\n"));
}

TEST_F(Channeler, RegistryReplyReplacesBytesThatAreNotUtf8) {
    LocalClient odd_node(daemon, {}, std::string("\xff\xfe|fwd|x", 8));
    odd_node.channel.send(inbox_frames("odd", "node"));
    EXPECT_EQ(odd_node.request(registry_query_frames()),
              registry_reply_frames("{\"\xEF\xBF\xBD\xEF\xBF\xBD\":null}"));
    // The node goes on serving.
    WireMessage message;
    EXPECT_EQ(client.request(message.frames()), ack_frames(message.id));
}

TEST_F(Channeler, OtherRequestKindsAreDroppedSilently) {
    // A registry reply sent to a node gets no answer; the next request does.
    client.channel.send(registry_reply_frames("{}"));
    EXPECT_EQ(client.request(registry_query_frames()), registry_reply_frames("null"));
    EXPECT_EQ(daemon.process().err(), "");
}

// An application restarted under the same id connects while the node may
// still hold its previous connection under that identity; the newest
// connection is the one answered.
TEST_F(Channeler, ANewConnectionWithAnIdentityInUseTakesItOver) {
    RawPeer first_run(ZMQ_DEALER, "app|disp");
    first_run.connect(daemon.channelerEndpoint());
    first_run.send(registry_query_frames());
    ASSERT_EQ(first_run.receive(), registry_reply_frames("null"));

    RawPeer second_run(ZMQ_DEALER, "app|disp");
    second_run.connect(daemon.channelerEndpoint());
    WireMessage message;
    second_run.send(message.frames());
    EXPECT_EQ(second_run.receive(), ack_frames(message.id));
}

// A message the node already holds is not lost because its sender has gone:
// the failed acknowledgement is reported, and the message is still kept and
// published. The daemon is held stopped while the sender writes and leaves,
// and bad requests ahead of the message keep it busy while it notices the
// sender has gone, so that the acknowledgement finds no one to go to.
TEST_F(Channeler, MessageFromASenderThatHasGoneIsStillKeptAndPublished) {
    bool acknowledgement_failed = false;
    for (int attempt = 0; attempt < 5 && !acknowledgement_failed; ++attempt) {
        WireMessage message;
        message.routes = {"later"};
        {
            RawPeer vanishing(ZMQ_DEALER, "vanishing");
            vanishing.connect(daemon.channelerEndpoint());
            vanishing.send(registry_query_frames());
            ASSERT_TRUE(vanishing.receive());  // connected
            daemon.process().signal(SIGSTOP);
            for (int i = 0; i < 100; ++i) vanishing.send({delimiter, "WHAT", delimiter, delimiter});
            vanishing.send(message.frames());
            vanishing.closeAfterSending();
        }
        daemon.process().signal(SIGCONT);

        EXPECT_EQ(client.nextPublication(), publication_frames(message));
        EXPECT_EQ(client.request(inbox_frames("later", "clnt")), message.frames());
        client.channel.send(ack_frames(message.id));
        acknowledgement_failed = daemon.process().err().find("Failed to acknowledge message " +
                                                             message.id) != std::string::npos;
    }
    if (!acknowledgement_failed) GTEST_SKIP() << "the sender never left in time";
}

// kelno.max_message_size: a peer that sends more is cut off and that is
// reported; without the setting a large message is served as any other.
TEST(MessageSizeLimit, CutsOffAPeerThatSendsMoreAndServesTheRest) {
    const struct {
        const char* name;
        std::string config;
        bool large_served;
    } cases[] = {
        {"limit of 2000 bytes", "kelno.max_message_size=2000\n", false},
        {"no limit", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DaemonProcess daemon({"node", std::nullopt, 1, c.config});
        LocalClient client(daemon);
        RawPeer sender(ZMQ_DEALER, "large-sender");
        sender.connect(daemon.channelerEndpoint());
        WireMessage large;
        large.payload = std::string(5000, 'l');
        sender.send(large.frames());
        if (c.large_served) {
            EXPECT_EQ(sender.receive(), ack_frames(large.id));
        } else {
            EXPECT_TRUE(daemon.process().waitForErr("channeler: a connection was closed"));
            EXPECT_EQ(sender.receive(100ms), std::nullopt);
        }
        WireMessage small;
        small.payload = std::string(1000, 's');
        EXPECT_EQ(client.request(small.frames()), ack_frames(small.id));
        expect_orderly_stop(daemon);
    }
}

}  // namespace
}  // namespace kelno_test
