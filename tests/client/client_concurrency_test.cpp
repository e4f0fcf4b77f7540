// Several threads of one client send at full speed: the I/O loop reads the
// node's acknowledgements as fast as it writes, so every result callback runs
// and the node never finds the client's queue full.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "client_harness.hpp"

namespace client_test {
namespace {

constexpr int kThreads = 4;
constexpr int kMessagesPerThread = 50000;

TEST(ConcurrentSenders, EveryResultCallbackRunsAndNoAcknowledgementIsDropped) {
    kelno_test::DaemonProcess daemon;
    auto client = make_client(daemon, "flooder");
    constexpr int total = kThreads * kMessagesPerThread;
    std::mutex mutex;
    std::condition_variable all_acknowledged;
    int acknowledged = 0;  // result callbacks run, on the I/O thread
    auto on_ack = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        if (++acknowledged == total) all_acknowledged.notify_all();
    };
    IoThread io(*client);

    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < kMessagesPerThread; ++i) {
                send_text(*client, "x", on_ack);
            }
        });
    }
    for (auto& sender : senders) sender.join();

    {
        std::unique_lock<std::mutex> lock(mutex);
        all_acknowledged.wait_for(lock, std::chrono::seconds(300),
                                  [&] { return acknowledged == total; });
        EXPECT_EQ(acknowledged, total);
    }
    EXPECT_TRUE(io.errors().all().empty()) << io.errors().all().front();
    EXPECT_EQ(daemon.process().err().find("dropped"), std::string::npos) << daemon.process().err();
}

}  // namespace
}  // namespace client_test
