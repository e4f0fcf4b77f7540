#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <cplt/Exception.hpp>
#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>

#include "loopback.hpp"

namespace {

using cplt::InputSelector;
using cplt::Socket;
using namespace zmq_test;

// Three ROUTERs, each with a DEALER connected, so a test chooses which of
// the routers have input.
struct ThreeRouters {
    RouterAndDealer pairs[3];

    // Gives router `index` a message and waits until it is there.
    void giveInput(int index) {
        pairs[index].dealer.send("ping", false);
        if (!wait_for_input(pairs[index].router)) throw std::runtime_error("no input arrived");
    }

    // A selector over the three routers whose handlers log their index.
    InputSelector selectorLoggingTo(std::vector<int>& served) {
        std::vector<std::pair<Socket*, InputSelector::Handler>> entries;
        for (int i = 0; i < 3; ++i) {
            entries.emplace_back(&pairs[i].router, [&served, i, this](Socket* socket) {
                EXPECT_EQ(socket, &pairs[i].router);
                served.push_back(i);
            });
        }
        return InputSelector(std::move(entries));
    }
};

TEST(InputSelector, WithoutInputTimesOutAndCallsNoHandler) {
    ThreeRouters routers;
    std::vector<int> served;
    InputSelector selector = routers.selectorLoggingTo(served);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(selector.run(std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_TRUE(served.empty());
}

TEST(InputSelector, ServesReadySocketsInListOrderNotArrivalOrder) {
    ThreeRouters routers;
    routers.giveInput(2);
    routers.giveInput(1);
    std::vector<int> served;
    InputSelector selector = routers.selectorLoggingTo(served);

    EXPECT_TRUE(selector.run(std::chrono::milliseconds(0)));
    EXPECT_EQ(served, (std::vector<int>{1, 2}));
}

TEST(InputSelector, HandlerExceptionLeavesRunBeforeTheNextReadySocket) {
    ThreeRouters routers;
    routers.giveInput(0);
    routers.giveInput(2);
    std::vector<int> served;
    InputSelector selector({
        {&routers.pairs[0].router, [](Socket*) { throw std::logic_error("handler failed"); }},
        {&routers.pairs[2].router, [&](Socket*) { served.push_back(2); }},
    });

    EXPECT_THROW(selector.run(std::chrono::milliseconds(0)), std::logic_error);
    EXPECT_TRUE(served.empty());
}

TEST(InputSelector, SocketClosedSinceConstructionRaisesNotSocket) {
    ThreeRouters routers;
    std::vector<int> served;
    InputSelector selector = routers.selectorLoggingTo(served);
    routers.pairs[1].router.close();

    try {
        selector.run(std::chrono::milliseconds(0));
        FAIL() << "run() polled a closed socket";
    } catch (const cplt::ZmqError& error) {
        EXPECT_EQ(error.errorNumber(), ENOTSOCK);
        EXPECT_EQ(error.contextTrace(),
                  std::vector<std::string>{"Failed to check sockets for available input"});
    }
}

}  // namespace
