// A WakeUp waited for by an InputSelector beside its sockets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>
#include <cplt/WakeUp.hpp>
#include <kelnou/Exception.hpp>

#include "loopback.hpp"

namespace {

using cplt::InputSelector;
using cplt::Socket;
using cplt::WakeUp;
using namespace zmq_test;

// A selector over a router and a wake-up that logs what it served; the
// wake-up's handler drains it, as a user of the selector must.
struct RouterAndWakeUp {
    RouterAndDealer pair;
    WakeUp wake_up;
    std::vector<std::string> served;
    InputSelector selector{{{&pair.router,
                             [this](Socket*) {
                                 cplt::Frame identity;
                                 pair.router.recv(identity);
                                 pair.router.flushMessage();
                                 served.push_back("router");
                             }}},
                           {{wake_up.fd(), [this](int fd) {
                                 EXPECT_EQ(fd, wake_up.fd());
                                 wake_up.drain();
                                 served.push_back("wake-up");
                             }}}};
};

TEST(WakeUp, FromAnotherThreadEndsAWaitLongBeforeItsTimeout) {
    RouterAndWakeUp fixture;
    std::thread waker([&] { fixture.wake_up.wake(); });
    // Without the wake-up this run would wait out the whole bound and return false.
    EXPECT_TRUE(fixture.selector.run(bounded_wait));
    waker.join();
    EXPECT_EQ(fixture.served, std::vector<std::string>{"wake-up"});
}

TEST(WakeUp, SentBeforeTheWaitIsKeptUntilDrainedAndServedAfterTheSockets) {
    RouterAndWakeUp fixture;
    fixture.wake_up.wake();
    fixture.wake_up.wake();  // counted, not queued: one drain forgets both
    fixture.pair.dealer.send("ping", false);
    ASSERT_TRUE(wait_for_input(fixture.pair.router));

    EXPECT_TRUE(fixture.selector.run(std::chrono::milliseconds(0)));
    EXPECT_EQ(fixture.served, (std::vector<std::string>{"router", "wake-up"}));
    EXPECT_FALSE(fixture.selector.run(std::chrono::milliseconds(0)));

    fixture.wake_up.drain();  // nothing pending: returns at once
    EXPECT_FALSE(fixture.selector.run(std::chrono::milliseconds(0)));
}

TEST(WakeUp, NegativeDescriptorIsRefused) {
    try {
        InputSelector selector({}, {{-1, [](int) {}}});
        FAIL() << "constructed";
    } catch (const kelnou::Exception& error) {
        EXPECT_EQ(error.generateMessage(),
                  "Cannot create input selector with negative file descriptor -1");
    }
}

}  // namespace
