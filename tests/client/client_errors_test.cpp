// Errors that reach the handler of blockThreadForIO: malformed requests from a
// stand-in node, and errors raised by the application's own callbacks.
#include <gtest/gtest.h>
#include <zmq.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <kelnom/Client.hpp>
#include <kelnom/Exception.hpp>

#include "DaemonProcess.hpp"
#include "RawPeer.hpp"
#include "client_harness.hpp"

namespace client_test {
namespace {

using namespace std::string_literals;
using kelnom::Client;

// A node stand-in built from plain libzmq: a ROUTER as the channeler and an
// XPUB as the broadcaster, which reports subscriptions so that a test can wait
// for them instead of guessing.
class RawNode {
public:
    kelno_test::RawPeer channeler{ZMQ_ROUTER};
    kelno_test::RawPeer broadcaster{ZMQ_XPUB};

    int channelerPort() const { return channeler_port; }
    int broadcasterPort() const { return broadcaster_port; }

    bool awaitSubscription(const std::string& topic) {
        for (;;) {
            const auto frames = broadcaster.receive(kWait);
            if (!frames) return false;
            if ((*frames)[0] == "\x01"s + topic) return true;
        }
    }

private:
    static int port_of(const std::string& endpoint) {
        return std::stoi(endpoint.substr(endpoint.rfind(':') + 1));
    }

    int channeler_port = port_of(channeler.bindLoopback());
    int broadcaster_port = port_of(broadcaster.bindLoopback());
};

std::string header_value(const std::vector<std::string>& frames, const std::string& key) {
    for (const std::string& frame : frames) {
        if (frame.rfind(key + "|", 0) == 0) return frame.substr(key.size() + 1);
    }
    return {};
}

enum class Via { Listener, Dispenser };

struct ProtocolErrorCase {
    const char* name;
    Via via;
    std::vector<std::string> frames;  // after the peer identity, or with the topic first
    const char* message;              // generateMessage() of the handled error
};

// Test output names the case instead of dumping its bytes.
void PrintTo(const ProtocolErrorCase& c, std::ostream* os) { *os << c.name; }

class ProtocolErrors : public testing::TestWithParam<ProtocolErrorCase> {};

TEST_P(ProtocolErrors, ReachTheHandlerAndTheNextCallReadsOn) {
    RawNode node;
    Client client("raw-app", node.broadcasterPort(), node.channelerPort(), {"raw-app"});
    Events acks;
    send_text(client, "needs ack", [&] { acks.add("acked"); });
    IoThread io(client, kIoTimeout, 2);

    // identity, routes, "MSG", ...
    const auto message = node.channeler.receive(kWait).value_or(kelno_test::Frames{});
    ASSERT_GE(message.size(), 3u);
    ASSERT_EQ(message[2], "MSG");
    const std::string identity = message[0];
    EXPECT_EQ(identity, "raw-app|disp");
    ASSERT_TRUE(node.awaitSubscription("raw-app"));

    if (GetParam().via == Via::Listener) {
        node.broadcaster.send(GetParam().frames);
    } else {
        std::vector<std::string> routed{identity};
        routed.insert(routed.end(), GetParam().frames.begin(), GetParam().frames.end());
        node.channeler.send(routed);
    }
    ASSERT_TRUE(io.waitReturned());
    EXPECT_EQ(io.errors().all(), std::vector<std::string>{GetParam().message});

    // The second call handles the next request: the ack of the queued message.
    node.channeler.send(
        {identity, "\0"s, "ACK", "msg_id|" + header_value(message, "id"), "\0"s, "\0"s});
    EXPECT_TRUE(acks.waitForCount("acked", 1));
    io.stop();
    EXPECT_EQ(io.errors().all().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ProtocolErrors,
    testing::Values(
        ProtocolErrorCase{"UnknownCommandOnDispenser",
                          Via::Dispenser,
                          {"\0"s, "NOPE", "\0"s, "\0"s},
                          "While trying to read request on Client dispenser. While trying to "
                          "decode a received request (NOPE). Unrecognised command name: NOPE"},
        ProtocolErrorCase{"TopicAloneOnListener",
                          Via::Listener,
                          {"raw-app"},
                          "While trying to read request on Client listener. Expected more "
                          "frames. Next section: Routes or delimiter"},
        ProtocolErrorCase{"AckOnListener",
                          Via::Listener,
                          {"raw-app", "\0"s, "ACK", "msg_id|x", "\0"s, "\0"s},
                          "While trying to read request on Client listener. Don't expect other "
                          "types of requests on listener other than Message. Received a request "
                          "with wire name: ACK"}),
    [](const testing::TestParamInfo<ProtocolErrorCase>& info) { return info.param.name; });

// A standard conversion error from a header's number passes through as it
// is, but takes the rest of its message with it: the next request on the
// same socket is read from its start.
TEST(StandardConversionErrors, TheNextRequestOnTheSameSocketIsReadWhole) {
    const struct {
        const char* name;
        Via via;
        void (*spoil)(kelno_test::WireMessage&);
        const char* text;
    } cases[] = {
        {"p_size on dispenser", Via::Dispenser,
         [](kelno_test::WireMessage& m) { m.payload_size = "two"; }, "stoull"},
        {"valid_for on dispenser", Via::Dispenser,
         [](kelno_test::WireMessage& m) { m.valid_for = "soon"; }, "stoll"},
        {"p_size on listener", Via::Listener,
         [](kelno_test::WireMessage& m) { m.payload_size = "two"; }, "stoull"},
        {"valid_for on listener", Via::Listener,
         [](kelno_test::WireMessage& m) { m.valid_for = "soon"; }, "stoll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawNode node;
        Client client("raw-app", node.broadcasterPort(), node.channelerPort(), {"raw-app"});
        Events delivered;
        client.onMessage([&](std::unique_ptr<kelnom::Message> message) {
            delivered.add(payload_text(*message));
        });
        send_text(client, "hello");  // tells the node our identity
        IoThread io(client, kIoTimeout, 2);
        const auto hello = node.channeler.receive(kWait).value_or(kelno_test::Frames{});
        ASSERT_FALSE(hello.empty());
        ASSERT_TRUE(node.awaitSubscription("raw-app"));

        kelno_test::WireMessage bad;
        bad.app_id = "raw-app";
        c.spoil(bad);
        kelno_test::WireMessage good;
        good.app_id = "raw-app";
        good.payload = "good";
        for (const auto* message : {&bad, &good}) {
            kelno_test::Frames frames = message->frames();
            frames.insert(frames.begin(), c.via == Via::Listener ? "raw-app" : hello[0]);
            (c.via == Via::Listener ? node.broadcaster : node.channeler).send(frames);
        }
        EXPECT_TRUE(delivered.waitForCount("good", 1));
        EXPECT_EQ(
            io.errors().all(),
            (std::vector<std::string>{"An unknown error occured. We do not know how to handle it",
                                      std::string("rethrown: ") + c.text}));
    }
}

struct CallbackErrorCase {
    const char* name;
    std::function<void()> raise;  // run as the result callback
    bool with_handler;
    std::vector<std::string> handled;  // generateMessage() of what the handler got
    bool rethrown;                     // the std::runtime_error leaves blockThreadForIO
};

// Test output names the case instead of dumping its bytes.
void PrintTo(const CallbackErrorCase& c, std::ostream* os) { *os << c.name; }

class CallbackErrors : public testing::TestWithParam<CallbackErrorCase> {};

TEST_P(CallbackErrors, AreSortedByKind) {
    kelno_test::DaemonProcess daemon;
    auto client = make_client(daemon, "raiser");
    send_text(*client, "raise", GetParam().raise);
    Events handled;
    Client::ErrorHandler handler;
    if (GetParam().with_handler) {
        handler = [&](kelnou::Exception& error) { handled.add(error.generateMessage()); };
    }
    bool rethrown = false;
    {
        Watchdog watchdog(*client);
        try {
            client->blockThreadForIO(handler, kIoTimeout);
        } catch (const std::runtime_error&) {
            rethrown = true;
        }
    }
    EXPECT_EQ(rethrown, GetParam().rethrown);
    EXPECT_EQ(handled.all(), GetParam().handled);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CallbackErrors,
    testing::Values(CallbackErrorCase{"OurException",
                                      [] { throw kelnou::GeneralException("boom"); },
                                      true,
                                      {"While trying to read request on Client dispenser. boom"},
                                      false},
                    CallbackErrorCase{"ForeignException",
                                      [] { throw std::runtime_error("foreign"); },
                                      true,
                                      {"An unknown error occured. We do not know how to handle it"},
                                      true},
                    CallbackErrorCase{"ForeignExceptionWithoutHandler",
                                      [] { throw std::runtime_error("foreign"); },
                                      false,
                                      {},
                                      false}),
    [](const testing::TestParamInfo<CallbackErrorCase>& info) { return info.param.name; });

}  // namespace
}  // namespace client_test
