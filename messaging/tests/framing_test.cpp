// Frame sequences over real ZeroMQ sockets on loopback TCP: what the Sender
// writes byte for byte, what the Receiver rebuilds, and how it rejects
// malformed input while keeping the socket usable for the next message.

#include <gtest/gtest.h>
#include <zmq.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <cplt/Exception.hpp>
#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Exception.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Registry.hpp>
#include <kelnom/Sender.hpp>

#include "FreePort.hpp"
#include "MalformedFrames.hpp"
#include "RawPeer.hpp"

namespace {

using kelnom::Message;
using kelnom::Payload;
using kelnom::ProtocolError;
using kelnom::Receiver;
using kelnom::Registry;
using kelnom::Sender;
using kelnom::internal_objects::Ack;
using kelnom::internal_objects::GetRegistry;
using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;
using kelnom::internal_objects::PayloadRequest;
using kelnom::internal_objects::Request;

using Frames = std::vector<std::string>;
using Lines = std::vector<std::string>;

const std::string D(1, '\0');  // delimiter frame
constexpr std::chrono::milliseconds bounded_wait{5000};

using kelno_test::any_loopback_port;
using kelno_test::RawPeer;

Payload payload_of(const std::string& bytes, std::string type) {
    char* buffer = new char[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    return Payload(buffer, static_cast<std::uint32_t>(bytes.size()), std::move(type));
}

std::string bytes_of(const Payload& payload) {
    return std::string(payload.getBuffer(), payload.size());
}

Message message_to(std::vector<std::string> routes, const std::string& bytes,
                   Message::AckMode ack_mode = Message::AckMode::Ack) {
    return Message(payload_of(bytes, "text"),
                   Message::Config("app1", std::move(routes), Message::Seconds(20), ack_mode));
}

bool wait_for_input(cplt::Socket& socket, std::chrono::milliseconds timeout = bounded_wait) {
    cplt::InputSelector selector({{&socket, [](cplt::Socket*) {}}});
    return selector.run(timeout);
}

// Never blocks without limit: a message that does not come fails the test.
std::unique_ptr<Request> receive_within(Receiver& receiver) {
    if (!wait_for_input(*receiver.getSocket())) throw std::runtime_error("no message arrived");
    return receiver.receive();
}

void send_as_its_kind(Sender& sender, const Request& request, const std::string* leading_frame) {
    if (auto* message = dynamic_cast<const Message*>(&request)) {
        sender.send(*message, leading_frame);
    } else if (auto* reply = dynamic_cast<const PayloadRequest*>(&request)) {
        sender.send(*reply, leading_frame);
    } else {
        sender.send(request, leading_frame);
    }
}

void expect_same_request(const Request& sent, const Request& received) {
    ASSERT_EQ(typeid(received), typeid(sent));
    // The headers carry every decoded field (ids, app id, validity, ack mode,
    // origin list, inbox kind, payload size and type).
    EXPECT_EQ(received.create_protocol_headers(), sent.create_protocol_headers());
    if (auto* sent_payload = dynamic_cast<const PayloadRequest*>(&sent)) {
        auto& received_payload = dynamic_cast<const PayloadRequest&>(received);
        EXPECT_EQ(bytes_of(received_payload.payload()), bytes_of(sent_payload->payload()));
    }
    if (auto* sent_message = dynamic_cast<const Message*>(&sent)) {
        EXPECT_EQ(dynamic_cast<const Message&>(received).pushRoutes(), sent_message->pushRoutes());
    }
}

std::vector<std::unique_ptr<Request>> one_of_every_kind() {
    std::vector<std::unique_ptr<Request>> requests;
    auto routed = std::make_unique<Message>(message_to({"nodeB", "nodeC"}, "hello"));
    routed->appendOriginNode("nodeA");
    routed->appendOriginNode("nodeZ");
    requests.push_back(std::move(routed));
    requests.push_back(std::make_unique<Message>(Message(
        payload_of(std::string("\0bin|\0ary", 9), "bin"),
        Message::Config("a|b", {}, Message::Seconds(-5), static_cast<Message::AckMode>(7)))));
    requests.push_back(std::make_unique<Message>(message_to({"nodeB"}, "")));
    requests.push_back(std::make_unique<Registry>(payload_of(R"({"nodeA":{}})", "JSON")));
    requests.push_back(std::make_unique<Registry>(payload_of("", "JSON")));
    requests.push_back(std::make_unique<Inbox>("app1", InboxType::Client));
    requests.push_back(std::make_unique<Inbox>("nodeB", InboxType::Node));
    requests.push_back(std::make_unique<Ack>("0b8a9c2e-5d1f-4a43-9a57-2c1d4e6f7a80"));
    requests.push_back(std::make_unique<Ack>(""));
    requests.push_back(std::make_unique<GetRegistry>());
    return requests;
}

// Our DEALER connected to a raw peer.
class FramingTest : public ::testing::Test {
protected:
    FramingTest() { local.connect(peer_endpoint); }

    // A plain libzmq DEALER: writes frames exactly as given and reads whole
    // messages back, so both directions are checked byte for byte.
    RawPeer peer{ZMQ_DEALER};
    const std::string peer_endpoint = peer.bindLoopback();
    cplt::Socket local{cplt::SocketType::Dealer};
    Sender sender{&local};
    Receiver receiver{&local};
};

// --- What goes out ---------------------------------------------------------

TEST_F(FramingTest, MessageGoesOutAsTheTwelveFramesOfTheExample) {
    const Message message = message_to({"nodeB"}, "hello");
    sender.send(message, nullptr);

    EXPECT_EQ(peer.receive(),
              (Frames{"nodeB", D, "MSG", "ack_mode|1", "app_id|app1", "id|" + message.msgId(),
                      "origin|,", "p_size|5", "p_type|text", "valid_for|20", D, "hello"}));
}

TEST_F(FramingTest, EveryKindGoesOutAsItsFrameSequence) {
    const std::string leading = "app1|lstn";
    struct Case {
        const char* name;
        std::function<Frames()> send;  // sends, returns the frames expected
    };
    const std::vector<Case> cases = {
        {"registry query",
         [&] {
             sender.send(GetRegistry(), nullptr);
             return Frames{D, "GREG", D, D};
         }},
        {"inbox poll of the node kind",
         [&] {
             sender.send(Inbox("nodeB", InboxType::Node), nullptr);
             return Frames{D, "BOX", "app_id|nodeB", "box_type|node", D, D};
         }},
        {"acknowledgement after a leading frame",
         [&] {
             sender.send(Ack("id-1"), &leading);
             return Frames{leading, D, "ACK", "msg_id|id-1", D, D};
         }},
        {"registry reply",
         [&] {
             sender.send(Registry(payload_of("{}", "JSON")), nullptr);
             return Frames{D, "REG", "p_size|2", "p_type|JSON", D, "{}"};
         }},
        {"message without routes, with origins, an empty payload and a leading frame",
         [&] {
             Message message(
                 payload_of("", "text"),
                 Message::Config("app2", {}, Message::Seconds(-5), Message::AckMode::NoAck));
             message.appendOriginNode("a");
             message.appendOriginNode("b");
             sender.send(message, &leading);
             return Frames{leading,
                           D,
                           "MSG",
                           "ack_mode|0",
                           "app_id|app2",
                           "id|" + message.msgId(),
                           "origin|a,b,",
                           "p_size|0",
                           "p_type|text",
                           "valid_for|-5",
                           D,
                           ""};
         }},
        {"message with two routes",
         [&] {
             const Message message = message_to({"n1", "n2"}, "x");
             sender.send(message, nullptr);
             return Frames{"n1",
                           "n2",
                           D,
                           "MSG",
                           "ack_mode|1",
                           "app_id|app1",
                           "id|" + message.msgId(),
                           "origin|,",
                           "p_size|1",
                           "p_type|text",
                           "valid_for|20",
                           D,
                           "x"};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Frames expected = c.send();
        EXPECT_EQ(peer.receive(), expected);
    }
}

TEST(SenderTest, SocketErrorsCarryTheSendContextLine) {
    // A ROUTER refuses a peer that is not connected: the daemon answering a
    // client that has gone.
    cplt::Socket router(cplt::SocketType::Router);
    router.bind(any_loopback_port);
    Sender sender(&router);
    const std::string gone = "gone|disp";
    struct Case {
        const char* name;
        std::function<void()> send;
        const char* context_line;
    };
    const std::vector<Case> cases = {
        {"message", [&] { sender.send(message_to({"n"}, "x"), &gone); },
         "While trying to send frames of payload request"},
        {"registry reply", [&] { sender.send(Registry(payload_of("{}", "JSON")), &gone); },
         "While trying to send frames of payload request"},
        {"acknowledgement", [&] { sender.send(Ack("id"), &gone); },
         "While trying to send frames of request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.send();
            ADD_FAILURE() << "send to an unknown peer succeeded";
        } catch (const cplt::ZmqError& e) {
            EXPECT_EQ(e.errorNumber(), EHOSTUNREACH);
            EXPECT_EQ(e.contextTrace(), (Lines{"While trying to send frame", c.context_line}));
        }
    }
}

// --- Round trips -------------------------------------------------------------

// A client's DEALER connected to a daemon's ROUTER, as in the running system.
class ClientDaemonTest : public ::testing::Test {
protected:
    ClientDaemonTest() {
        daemon.bind(any_loopback_port);
        client.setIdentity(client_identity);
        client.connect(daemon.lastEndpoint());
    }

    const std::string client_identity = "app1|disp";
    cplt::Socket daemon{cplt::SocketType::Router};
    cplt::Socket client{cplt::SocketType::Dealer};
    Sender client_sender{&client};
    Receiver client_receiver{&client};
    Sender daemon_sender{&daemon};
    Receiver daemon_receiver{&daemon};
};

TEST_F(ClientDaemonTest, EveryKindRoundTripsBothWays) {
    for (const auto& request : one_of_every_kind()) {
        SCOPED_TRACE(request->wireName());

        // Up: the ROUTER hands the peer identity over as a leading frame.
        send_as_its_kind(client_sender, *request, nullptr);
        ASSERT_TRUE(wait_for_input(daemon));
        const kelnom::RoutedRequest routed = daemon_receiver.receiveRouted();
        EXPECT_EQ(routed.peer, client_identity);
        expect_same_request(*request, *routed.request);

        // Down: the identity picks the peer and is not transmitted.
        send_as_its_kind(daemon_sender, *request, &client_identity);
        expect_same_request(*request, *receive_within(client_receiver));
    }
}

TEST_F(ClientDaemonTest, FramesLongerThanAHundredBytesAreReadWhole) {
    Message message(payload_of("body", std::string(150, 't')),
                    Message::Config(std::string(200, 'a'), {std::string(300, 'r'), "nodeB"},
                                    Message::Seconds(60), Message::AckMode::Ack));
    for (int hop = 0; hop < 40; ++hop) message.appendOriginNode("node-" + std::to_string(hop));
    ASSERT_GT(message.create_protocol_headers().at("origin").size(), 200u);

    client_sender.send(message, nullptr);
    ASSERT_TRUE(wait_for_input(daemon));
    expect_same_request(message, *daemon_receiver.receiveRouted().request);
}

// Small bodies may reach us as slices of a receive buffer ZeroMQ shares between
// frames; a payload kept for long (a stored message) must not pin that buffer,
// so it gets an array of its own. Large bodies are kept as received.
TEST_F(ClientDaemonTest, PayloadsArriveIntactAndSmallOnesInABufferOfTheirOwn) {
    for (std::size_t size : {0u, 1u, 229u, 8192u, 8193u, 300000u}) {
        SCOPED_TRACE(size);
        std::string body(size, '\0');
        for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
        const Message message(
            payload_of(body, "bytes"),
            Message::Config("app1", {}, Message::Seconds(5), Message::AckMode::Ack));
        client_sender.send(message, nullptr);
        ASSERT_TRUE(wait_for_input(daemon));
        auto received = daemon_receiver.receiveRouted().request;
        auto& payload = dynamic_cast<Message&>(*received).payload();
        ASSERT_EQ(payload.size(), size);
        EXPECT_EQ(std::string(payload.getBuffer(), size), body);
        if (size <= 8192) {
            const Payload::FreeCallback callback = payload.getFreeCallback();
            auto* release = callback.target<void (*)(char*)>();
            ASSERT_NE(release, nullptr);
            EXPECT_EQ(*release, &Payload::array_delete);
        }
    }
}

TEST(PublishTest, MessagePublishedUnderATopicReachesTheSubscriber) {
    const std::string topic = "app1";
    cplt::Socket publisher(cplt::SocketType::Pub);
    publisher.bind(any_loopback_port);
    cplt::Socket subscriber(cplt::SocketType::Sub);
    subscriber.connect(publisher.lastEndpoint());
    subscriber.subscribe(topic);
    Sender broadcaster(&publisher);
    Receiver listener(&subscriber);

    // A PUB drops what it sends before the subscription has reached it:
    // publish probes until one arrives.
    bool subscribed = false;
    for (int attempt = 0; attempt < 100 && !subscribed; ++attempt) {
        broadcaster.send(GetRegistry(), &topic);
        subscribed = wait_for_input(subscriber, std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(subscribed);

    Message message = message_to({"nodeB"}, "published");
    message.appendOriginNode("nodeA");
    broadcaster.send(message, &topic);
    for (;;) {  // skip the probes still queued
        ASSERT_TRUE(wait_for_input(subscriber));
        const kelnom::PublishedRequest published = listener.receivePublished();
        EXPECT_EQ(published.topic, topic);
        const auto& received = published.request;
        if (dynamic_cast<GetRegistry*>(received.get()) != nullptr) continue;
        expect_same_request(message, *received);
        break;
    }
}

// --- What comes in -------------------------------------------------------------

TEST_F(FramingTest, HeaderFramesAreSplitAtTheFirstSeparatorAndTheLastDuplicateWins) {
    const std::string odd_id("a|b\0c|", 6);
    peer.send({D, "ACK", "msg_id|first", "msg_id|" + odd_id, D, D});
    peer.send({D, "ACK", "msg_id|", D, D});

    EXPECT_EQ(dynamic_cast<Ack&>(*receive_within(receiver)).messageId(), odd_id);
    EXPECT_EQ(dynamic_cast<Ack&>(*receive_within(receiver)).messageId(), "");
}

TEST_F(FramingTest, FramesAfterTheTerminationDelimiterAreDiscarded) {
    peer.send({D, "BOX", "app_id|app1", "box_type|clnt", D, D, "stray"});
    peer.send({D, "GREG", D, D});

    EXPECT_EQ(dynamic_cast<Inbox&>(*receive_within(receiver)).appId(), "app1");
    EXPECT_EQ(receive_within(receiver)->kind(), kelnom::RequestKind::GetRegistry);
}

// A standard conversion error passes through unchanged, and the rest of its
// message goes with it: the next receive starts at the next message.
TEST_F(FramingTest, StandardConversionErrorsDiscardTheRestOfTheMessage) {
    for (const auto& c : kelno_test::malformed_frames()) {
        if (!c.conversion) continue;
        SCOPED_TRACE(c.name);
        peer.send(c.frames);
        peer.send({D, "GREG", D, D});
        try {
            receive_within(receiver);
            ADD_FAILURE() << "accepted";
        } catch (const std::logic_error& e) {
            EXPECT_EQ(e.what(), c.text);
        }
        EXPECT_FALSE(local.checkMore());
        EXPECT_EQ(receive_within(receiver)->kind(), kelnom::RequestKind::GetRegistry);
    }
}

TEST_F(FramingTest, EveryFramingErrorIsReportedAndTheNextMessageIsReadFromItsStart) {
    for (const auto& c : kelno_test::malformed_frames()) {
        if (c.conversion) continue;
        SCOPED_TRACE(c.name);
        peer.send(c.frames);
        peer.send({D, "GREG", D, D});

        try {
            receive_within(receiver);
            ADD_FAILURE() << "malformed message accepted";
        } catch (const ProtocolError& e) {
            EXPECT_EQ(std::string(e.what()), c.text);
            EXPECT_EQ(e.contextTrace(), c.context);
        }
        const auto next = receive_within(receiver);
        EXPECT_NE(dynamic_cast<GetRegistry*>(next.get()), nullptr);
    }
}

}  // namespace
