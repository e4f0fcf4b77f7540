#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <zmq.h>

#include <cplt/Context.hpp>
#include <cplt/Exception.hpp>
#include <cplt/Socket.hpp>

#include "child_checks.hpp"
#include "loopback.hpp"

namespace {

using cplt::Socket;
using cplt::SocketType;
using namespace zmq_test;

// The next frame of `socket`, whole; fails the test instead of blocking forever.
std::string receive_frame(Socket& socket) {
    if (!wait_for_input(socket)) throw std::runtime_error("no frame arrived");
    cplt::Frame frame;
    socket.recv(frame);
    return std::string(frame.data(), frame.size());
}

// Runs `action` and returns the ZmqError it raised; fails the test otherwise.
cplt::ZmqError zmq_error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const cplt::ZmqError& error) {
        return error;
    }
    throw std::runtime_error("no cplt::ZmqError was raised");
}

std::set<Socket*> registered_sockets() {
    std::lock_guard lock(cplt::Context::getLock());
    std::set<Socket*> sockets;
    cplt::Context::get().forEachSocket([&](Socket& socket) { sockets.insert(&socket); });
    return sockets;
}

// A DEALER whose outgoing queue is full: nobody listens at its endpoint.
Socket dealer_with_full_queue() {
    Socket dealer(SocketType::Dealer);
    dealer.setSendHWM(1);
    dealer.connect(unheard_endpoint());
    for (int attempt = 0; attempt < 10000; ++attempt) {
        if (!dealer.send_nowait("x", false)) return dealer;
    }
    throw std::runtime_error("the queue never filled");
}

struct FailingCall {
    const char* name;
    SocketType type;
    std::function<void(Socket&)> call;
    const char* context_line;
    int error_number;
};

TEST(SocketErrors, FailedCallRaisesZmqErrorWithItsContextLineAndZeroMQsNumber) {
    char buffer[8];
    const std::vector<FailingCall> cases = {
        {"bind", SocketType::Dealer, [](Socket& s) { s.bind("nonsense"); }, "While trying to bind",
         EINVAL},
        {"connect", SocketType::Dealer, [](Socket& s) { s.connect("tcp://"); },
         "While trying to connect", EINVAL},
        {"linger", SocketType::Dealer,
         [](Socket& s) { s.setLingerTimeout(std::chrono::milliseconds(-2)); },
         "While trying to set linger timeout for socket", EINVAL},
        {"identity", SocketType::Dealer, [](Socket& s) { s.setIdentity(std::string(256, 'i')); },
         "While trying to set socket identity", EINVAL},
        {"send timeout", SocketType::Dealer,
         [](Socket& s) { s.setSendTimeout(std::chrono::milliseconds(-2)); },
         "While trying to set send timeout for socket", EINVAL},
        {"send HWM", SocketType::Dealer, [](Socket& s) { s.setSendHWM(-1); },
         "While trying to set send HWM for socket", EINVAL},
        {"subscribe", SocketType::Dealer, [](Socket& s) { s.subscribe("topic"); },
         "While trying to set subscribe options for socket", EINVAL},
        {"send", SocketType::Sub, [](Socket& s) { s.send("frame", false); },
         "While trying to send frame", ENOTSUP},
        {"recv", SocketType::Pub, [&](Socket& s) { s.recv(buffer, sizeof buffer); },
         "While trying to receive frame", ENOTSUP},
        {"recv into a frame", SocketType::Pub,
         [](Socket& s) {
             cplt::Frame f;
             s.recv(f);
         },
         "While trying to receive frame", ENOTSUP},
        {"checkMore when closed", SocketType::Dealer,
         [](Socket& s) {
             s.close();
             s.checkMore();
         },
         "While trying to check for more message parts", ENOTSOCK},
    };
    for (const FailingCall& c : cases) {
        SCOPED_TRACE(c.name);
        Socket socket(c.type);
        const cplt::ZmqError error = zmq_error_of([&] { c.call(socket); });
        EXPECT_EQ(error.errorNumber(), c.error_number);
        EXPECT_STREQ(error.what(), zmq_strerror(c.error_number));
        EXPECT_EQ(error.contextTrace(), std::vector<std::string>{c.context_line});
    }
}

TEST(SocketErrors, BindOnBusyEndpointReadsBindLineThenZeroMQsText) {
    Socket first(SocketType::Router);
    first.bind(kelno_test::any_loopback_port);
    Socket second(SocketType::Router);
    const cplt::ZmqError error = zmq_error_of([&] { second.bind(first.lastEndpoint()); });
    EXPECT_EQ(error.errorNumber(), EADDRINUSE);
    EXPECT_EQ(error.generateMessage(),
              "While trying to bind. " + std::string(zmq_strerror(EADDRINUSE)));
}

TEST(SocketErrors, RouterSendToUnknownIdentityFailsWithHostUnreachable) {
    RouterAndDealer pair;
    // Either form of send: an unroutable frame is an error, not a would-block.
    for (bool nowait : {false, true}) {
        SCOPED_TRACE(nowait ? "send_nowait" : "send");
        const cplt::ZmqError error = zmq_error_of([&] {
            if (nowait) {
                pair.router.send_nowait("nobody", true);
            } else {
                pair.router.send("nobody", true);
            }
        });
        EXPECT_EQ(error.errorNumber(), EHOSTUNREACH);
        EXPECT_EQ(error.contextTrace(), std::vector<std::string>{"While trying to send frame"});
    }

    // A connected identity is routable.
    pair.dealer.send("hello", false);
    ASSERT_EQ(receive_frame(pair.router), "dealer");
    ASSERT_EQ(receive_frame(pair.router), "hello");
    pair.router.send("dealer", true);
    pair.router.send("back", false);
    EXPECT_EQ(receive_frame(pair.dealer), "back");
}

TEST(SocketSend, FullQueueRaisesEagainUnlessTheSendMayWait) {
    Socket dealer = dealer_with_full_queue();
    EXPECT_FALSE(dealer.send_nowait("x", true));
    EXPECT_FALSE(dealer.send_nowait(std::string("x"), false));

    dealer.setDefaultWait(false);
    cplt::ZmqError error = zmq_error_of([&] { dealer.send("x", false); });
    EXPECT_EQ(error.errorNumber(), EAGAIN);
    EXPECT_EQ(error.contextTrace(), std::vector<std::string>{"While trying to send frame"});

    // Waiting sends give up when the send time-out runs out.
    dealer.setDefaultWait(true);
    dealer.setSendTimeout(std::chrono::milliseconds(20));
    error = zmq_error_of([&] { dealer.send("x", false); });
    EXPECT_EQ(error.errorNumber(), EAGAIN);
}

TEST(SocketMove, MovedToSocketOwnsTheHandleAndKeepsTheDefaultWait) {
    Socket source = dealer_with_full_queue();
    source.setDefaultWait(false);
    Socket moved(std::move(source));

    EXPECT_FALSE(source.isOpen());
    EXPECT_TRUE(moved.isOpen());
    EXPECT_EQ(moved.socketType(), SocketType::Dealer);
    // Still not waiting: a full queue raises at once instead of blocking.
    EXPECT_EQ(zmq_error_of([&] { moved.send("x", false); }).errorNumber(), EAGAIN);

    // The source closes nothing: it has no handle left.
    source.close();
    EXPECT_EQ(zmq_error_of([&] { source.send("x", false); }).errorNumber(), ENOTSOCK);
    EXPECT_TRUE(moved.isOpen());
}

TEST(SocketMove, MovedSocketKeepsItsConnection) {
    RouterAndDealer pair;
    Socket dealer(std::move(pair.dealer));
    dealer.send("after the move", false);
    EXPECT_EQ(receive_frame(pair.router), "dealer");
    EXPECT_EQ(receive_frame(pair.router), "after the move");
}

TEST(SocketClose, SecondCloseDoesNothingAndLaterCallsRaiseNotSocket) {
    Socket socket(SocketType::Pub);
    socket.close();
    EXPECT_FALSE(socket.isOpen());
    EXPECT_NO_THROW(socket.close());
    // Without a signal, a call on a closed socket is the caller's error.
    EXPECT_EQ(zmq_error_of([&] { socket.send("x", false); }).errorNumber(), ENOTSOCK);
}

TEST(SocketRegistry, HoldsExactlyTheLiveSocketsAcrossMoveAndDestruction) {
    auto first = std::make_unique<Socket>(SocketType::Dealer);
    auto second = std::make_unique<Socket>(SocketType::Router);
    auto moved = std::make_unique<Socket>(std::move(*second));
    // The moved-to socket takes its source's place.
    EXPECT_EQ(registered_sockets(), (std::set<Socket*>{first.get(), moved.get()}));

    first.reset();
    second.reset();
    EXPECT_EQ(registered_sockets(), std::set<Socket*>{moved.get()});

    // Shutdown visits only live sockets (a freed one would be a use after
    // free under AddressSanitizer) and closes them.
    {
        std::lock_guard lock(cplt::Context::getLock());
        cplt::Context::get().shutdown(std::chrono::seconds(0));
    }
    EXPECT_FALSE(moved->isOpen());
    EXPECT_NO_THROW(moved.reset());
    EXPECT_TRUE(registered_sockets().empty());
}

// ZeroMQ refuses sockets beyond its limit (1023 by default); the failed
// constructor must leave nothing behind in the registry.
[[noreturn]] void create_sockets_until_refused() {
    start_watchdog();
    std::vector<std::unique_ptr<Socket>> sockets;
    try {
        while (sockets.size() < 100000)
            sockets.push_back(std::make_unique<Socket>(SocketType::Pub));
        require(false, "socket creation is refused at some point");
    } catch (const cplt::ZmqError& error) {
        require(error.contextTrace() == std::vector<std::string>{"While trying to create socket"},
                "the refusal carries the creation line");
    }
    require(registered_sockets().size() == sockets.size(), "only live sockets are registered");
    {
        std::lock_guard lock(cplt::Context::getLock());
        cplt::Context::get().shutdown(std::chrono::seconds(0));  // visits each of them
    }
    pass();
}

using SocketLimitDeathTest = ChildProcessTest;

TEST_F(SocketLimitDeathTest, RefusedCreationRaisesAndLeavesNothingRegistered) {
    EXPECT_EXIT(create_sockets_until_refused(), ::testing::ExitedWithCode(0), "");
}

TEST(SocketRecv, FrameLargerThanTheBufferReportsItsFullSize) {
    RouterAndDealer pair;
    std::string frame(250, '\0');
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>('a' + i % 26);
    pair.dealer.send(frame, false);
    pair.dealer.send(frame, false);

    ASSERT_EQ(receive_frame(pair.router), "dealer");
    char buffer[101];
    buffer[100] = '#';
    EXPECT_EQ(pair.router.recv(buffer, 100), 250);
    EXPECT_EQ(std::string(buffer, 100), frame.substr(0, 100));
    EXPECT_EQ(buffer[100], '#');
    EXPECT_FALSE(pair.router.checkMore());  // the rest of the frame is gone, not a new part

    // Received into a Frame, it arrives whole, and survives a move.
    ASSERT_EQ(receive_frame(pair.router), "dealer");
    cplt::Frame whole;
    EXPECT_EQ(pair.router.recv(whole), 250u);
    cplt::Frame kept(std::move(whole));
    EXPECT_EQ(std::string(kept.data(), kept.size()), frame);
}

TEST(SocketRecv, CheckMoreAndFlushMessageWalkTheParts) {
    RouterAndDealer pair;
    pair.dealer.send("one", true);
    pair.dealer.send("two", true);
    pair.dealer.send("three", false);
    pair.dealer.send("next", false);

    ASSERT_EQ(receive_frame(pair.router), "dealer");
    EXPECT_TRUE(pair.router.checkMore());
    EXPECT_EQ(receive_frame(pair.router), "one");
    pair.router.flushMessage();  // drops "two" and "three"

    EXPECT_EQ(receive_frame(pair.router), "dealer");
    EXPECT_EQ(receive_frame(pair.router), "next");
    EXPECT_FALSE(pair.router.checkMore());
    pair.router.flushMessage();  // nothing pending: returns at once
    EXPECT_FALSE(wait_for_input(pair.router, std::chrono::milliseconds(0)));
}

}  // namespace
