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

std::string loopback_endpoint() {
    return "tcp://127.0.0.1:" + std::to_string(kelno_test::free_port());
}

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

// A plain libzmq DEALER bound on loopback: writes frames exactly as given and
// reads whole messages back, so both directions are checked byte for byte.
class RawPeer {
public:
    RawPeer() : context(zmq_ctx_new()), socket(zmq_socket(context, ZMQ_DEALER)) {
        const int linger = 0;
        const int timeout = static_cast<int>(bounded_wait.count());
        zmq_setsockopt(socket, ZMQ_LINGER, &linger, sizeof linger);
        zmq_setsockopt(socket, ZMQ_RCVTIMEO, &timeout, sizeof timeout);
        zmq_setsockopt(socket, ZMQ_SNDTIMEO, &timeout, sizeof timeout);
        if (zmq_bind(socket, endpoint.c_str()) != 0) throw std::runtime_error("raw bind failed");
    }
    ~RawPeer() {
        zmq_close(socket);
        zmq_ctx_term(context);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    void send(const Frames& frames) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const int flags = i + 1 < frames.size() ? ZMQ_SNDMORE : 0;
            if (zmq_send(socket, frames[i].data(), frames[i].size(), flags) < 0) {
                throw std::runtime_error("raw send failed");
            }
        }
    }

    // One whole message; its end is where the sender cleared the more flag.
    Frames receive() {
        Frames frames;
        int more = 1;
        while (more) {
            zmq_msg_t part;
            zmq_msg_init(&part);
            if (zmq_msg_recv(&part, socket, 0) < 0) {
                zmq_msg_close(&part);
                throw std::runtime_error("no message arrived");
            }
            frames.emplace_back(static_cast<const char*>(zmq_msg_data(&part)), zmq_msg_size(&part));
            more = zmq_msg_more(&part);
            zmq_msg_close(&part);
        }
        return frames;
    }

    const std::string endpoint = loopback_endpoint();

private:
    void* context;
    void* socket;
};

// Our DEALER connected to a raw peer.
class FramingTest : public ::testing::Test {
protected:
    FramingTest() { local.connect(peer.endpoint); }

    RawPeer peer;
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
    router.bind(loopback_endpoint());
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
        const std::string endpoint = loopback_endpoint();
        daemon.bind(endpoint);
        client.setIdentity(client_identity);
        client.connect(endpoint);
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
        daemon_receiver.readFrame();
        EXPECT_EQ(daemon_receiver.frameText(), client_identity);
        daemon_receiver.expectMore("Request");
        expect_same_request(*request, *daemon_receiver.receive());

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
    daemon_receiver.readFrame();
    daemon_receiver.expectMore("Request");
    expect_same_request(message, *daemon_receiver.receive());
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
        daemon_receiver.readFrame();
        daemon_receiver.expectMore("Request");
        auto received = daemon_receiver.receive();
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
    const std::string endpoint = loopback_endpoint();
    const std::string topic = "app1";
    cplt::Socket publisher(cplt::SocketType::Pub);
    publisher.bind(endpoint);
    cplt::Socket subscriber(cplt::SocketType::Sub);
    subscriber.connect(endpoint);
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
        listener.readFrame();
        EXPECT_EQ(listener.frameText(), topic);
        listener.expectMore("Request");
        const auto received = listener.receive();
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
    const struct {
        const char* name;
        Frames frames;
        const char* text;
    } cases[] = {
        {"non-numeric p_size", {D, "REG", "p_size|two", "p_type|JSON", D, "{}"}, "stoull"},
        {"non-numeric valid_for",
         {D, "MSG", "ack_mode|1", "app_id|a", "id|x", "origin|,", "p_size|2", "p_type|t",
          "valid_for|soon", D, "hi"},
         "stoll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.send(c.frames);
        peer.send({D, "GREG", D, D});
        try {
            receive_within(receiver);
            ADD_FAILURE() << "accepted";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_FALSE(local.checkMore());
        EXPECT_EQ(receive_within(receiver)->kind(), kelnom::RequestKind::GetRegistry);
    }
}

struct FailureCase {
    const char* name;
    Frames frames;
    std::string text;
    Lines context;  // in the order added
};

std::string missing(const std::string& section) {
    return "Expected more frames. Next section: " + section;
}

std::string decode_line(const std::string& command = "") {
    return "While trying to decode a received request" +
           (command.empty() ? std::string() : " (" + command + ")");
}

const std::string routes_line = "While trying to receive routes of request";
const std::string headers_line = "While trying to receive headers";
const std::string protocol_headers_line = "While trying to receive protocol headers of request";
const std::string payload_line = "While trying to receive payload";
const std::string termination_line = "While trying to receive termination delimiter";
const std::string missing_key =
    "Payload detected but provided protocol headers have missing key. Missing key is: ";

Frames message_headers_announcing(const std::string& size) {
    return {D,
            "MSG",
            "ack_mode|1",
            "app_id|app1",
            "id|x",
            "origin|,",
            "p_size|" + size,
            "p_type|text",
            "valid_for|20",
            D};
}

Frames concat(Frames frames, const Frames& tail) {
    frames.insert(frames.end(), tail.begin(), tail.end());
    return frames;
}

std::string header_format_error(const std::string& frame) {
    return "Headers formatted incorrectly in request. No \"|\" found in \"" + frame + "\"";
}

std::string size_mismatch(const std::string& expected, const std::string& received) {
    return "Payload size does not match \"p_size\". Expected " + expected + " bytes, received " +
           received;
}

std::string size_out_of_range(const std::string& size) {
    return "Payload size in \"p_size\" is out of range: " + size +
           ". Largest allowed is 4294967295";
}

const std::vector<FailureCase> failure_cases = {
    {"message ends inside the routes",
     {"nodeA"},
     missing("Route delimiter frame"),
     {routes_line, decode_line()}},
    {"message ends after a second route",
     {"nodeA", std::string(150, 'n')},
     missing("Route delimiter frame"),
     {routes_line, decode_line()}},
    {"message ends after the routes", {D}, missing("Request/Command name"), {decode_line()}},
    {"message ends after the command",
     {D, "MSG"},
     missing("Headers"),
     {headers_line, protocol_headers_line, decode_line("MSG")}},
    {"message ends inside the headers",
     {D, "BOX", "app_id|a"},
     missing("Header delimiter"),
     {headers_line, protocol_headers_line, decode_line("BOX")}},
    {"header frame without separator",
     {D, "ACK", "msg_id", D, D},
     header_format_error("msg_id"),
     {headers_line, protocol_headers_line, decode_line("ACK")}},
    {"zero byte before the separator",
     {D, "ACK", std::string("msg\0|id", 7), D, D},
     // peer bytes are quoted escaped, so the zero byte cannot cut the text
     header_format_error("msg\\x00|id"),
     {headers_line, protocol_headers_line, decode_line("ACK")}},
    {"long header frame without separator",
     {D, "ACK", std::string(250, 'h'), D, D},
     header_format_error(std::string(250, 'h')),
     {headers_line, protocol_headers_line, decode_line("ACK")}},
    {"unknown command",
     {D, "PING", D, D},
     "Unrecognised command name: PING",
     {decode_line("PING")}},
    {"command names are case-sensitive",
     {D, "msg", D, "x"},
     "Unrecognised command name: msg",
     {decode_line("msg")}},
    {"long unknown command",
     {D, std::string(150, 'C'), D, D},
     "Unrecognised command name: " + std::string(150, 'C'),
     {decode_line(std::string(150, 'C'))}},
    {"empty command", {D, "", D, D}, "Unrecognised command name: ", {decode_line()}},
    {"no payload frame",
     message_headers_announcing("5"),
     missing("Payload"),
     {payload_line, decode_line("MSG")}},
    {"p_size missing",
     {D, "REG", "p_type|JSON", D, "{}"},
     missing_key + "p_size",
     {payload_line, decode_line("REG")}},
    {"p_type missing",
     {D, "REG", "p_size|2", D, "{}"},
     missing_key + "p_type",
     {payload_line, decode_line("REG")}},
    {"frames after the payload",
     {D, "REG", "p_size|2", "p_type|JSON", D, "{}", "x", "y"},
     "We don't expect more frames after the payload",
     {payload_line, decode_line("REG")}},
    {"no termination frame",
     {D, "GREG", D},
     missing("Termination frame"),
     {termination_line, decode_line("GREG")}},
    {"termination frame is not a delimiter",
     {D, "ACK", "msg_id|1", D, "x"},
     "Expected a delimiter frame for termination",
     {termination_line, decode_line("ACK")}},
    {"termination frame of two zero bytes",
     {D, "BOX", "app_id|a", "box_type|clnt", D, std::string(2, '\0')},
     "Expected a delimiter frame for termination",
     {termination_line, decode_line("BOX")}},
    {"request without its header",
     {D, "ACK", D, D},
     "Expected \"msg_id\" header.",
     {"While trying to decode headers for Ack", decode_line("ACK")}},
    {"message without its id",
     {D, "MSG", "p_size|1", "p_type|t", D, "x"},
     "Expected \"id\" header.",
     {"While trying to decode protocol headers for Message", decode_line("MSG")}},
    // The payload frame must be exactly as long as announced.
    {"payload shorter than p_size",
     concat(message_headers_announcing("5"), {"abc"}),
     size_mismatch("5", "3"),
     {payload_line, decode_line("MSG")}},
    {"payload longer than p_size",
     concat(message_headers_announcing("1"), {"abc"}),
     size_mismatch("1", "3"),
     {payload_line, decode_line("MSG")}},
    {"4 GiB announced for ten bytes",
     concat(message_headers_announcing("4294967295"), {"0123456789"}),
     size_mismatch("4294967295", "10"),
     {payload_line, decode_line("MSG")}},
    {"size mismatch with frames after the payload",
     {D, "REG", "p_size|5", "p_type|JSON", D, "{}", "x"},
     size_mismatch("5", "2"),
     {payload_line, decode_line("REG")}},
    {"p_size beyond 32 bits",
     concat(message_headers_announcing("4294967296"), {"x"}),
     size_out_of_range("4294967296"),
     {payload_line, decode_line("MSG")}},
    {"negative p_size",
     {D, "REG", "p_size|-1", "p_type|JSON", D, "x"},
     size_out_of_range("18446744073709551615"),
     {payload_line, decode_line("REG")}},
};

TEST_F(FramingTest, EveryFramingErrorIsReportedAndTheNextMessageIsReadFromItsStart) {
    for (const FailureCase& c : failure_cases) {
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
