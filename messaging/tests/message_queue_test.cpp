#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

namespace {

using kelnom::Client;
using kelnom::Message;
using kelnom::Payload;

Message message_valid_for(std::int64_t seconds, Payload payload = Payload(0, "text")) {
    return Message(std::move(payload), Message::Config("app", {"node"}, Message::Seconds(seconds),
                                                       Message::AckMode::NoAck));
}

void push(Client::MessageQueue& queue, std::int64_t seconds) {
    Message message = message_valid_for(seconds);
    queue.push(message);
}

// Empties the queue and returns the validities in the order they came out.
std::vector<std::int64_t> drain(Client::MessageQueue& queue) {
    std::vector<std::int64_t> order;
    while (queue.performOperation([&](const Message& head) {
        order.push_back(head.validFor().count());
        return true;
    })) {
    }
    return order;
}

struct OrderCase {
    std::vector<std::int64_t> queued;
    std::vector<std::int64_t> written;
};

class MessageQueueOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(MessageQueueOrder, WritesShortestValidityFirst) {
    Client::MessageQueue queue;
    for (std::int64_t seconds : GetParam().queued) push(queue, seconds);
    EXPECT_EQ(drain(queue), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Validities, MessageQueueOrder,
    testing::Values(OrderCase{{30, 5, 20}, {5, 20, 30}},
                    // Zero and negative validities go before every positive one.
                    OrderCase{{10, 0, 7, -3}, {-3, 0, 7, 10}}, OrderCase{{1, 1, 1}, {1, 1, 1}},
                    // Extremes of the signed count compare without overflow.
                    OrderCase{{INT64_MAX, INT64_MIN, 0}, {INT64_MIN, 0, INT64_MAX}}));

TEST(MessageQueue, EmptyQueueReturnsFalseWithoutCallingTheOperation) {
    Client::MessageQueue queue;
    bool called = false;
    EXPECT_FALSE(queue.performOperation([&](const Message&) { return called = true; }));
    EXPECT_FALSE(called);
}

TEST(MessageQueue, HeadStaysWhenTheOperationDeclinesOrRaises) {
    Client::MessageQueue queue;
    Message first = message_valid_for(1);
    const std::string first_id = first.msgId();
    queue.push(first);
    push(queue, 9);

    EXPECT_FALSE(queue.performOperation([](const Message&) { return false; }));
    EXPECT_THROW(queue.performOperation(
                     [](const Message&) -> bool { throw std::runtime_error("write failed"); }),
                 std::runtime_error);

    std::string head_id;
    EXPECT_TRUE(queue.performOperation([&](const Message& head) {
        head_id = head.msgId();
        return true;
    }));
    EXPECT_EQ(head_id, first_id);  // moved in whole: same message, same id
    EXPECT_EQ(drain(queue), std::vector<std::int64_t>{9});
}

TEST(MessageQueue, OwnsItsMessagesUntilTheyAreWrittenOrTheQueueDies) {
    int released = 0;
    auto counting_payload = [&] {
        return Payload(new char[4], 4, "text", [&released](char* buffer) {
            delete[] buffer;
            ++released;
        });
    };
    {
        Client::MessageQueue queue;
        for (int seconds : {2, 1, 3}) {
            Message message = message_valid_for(seconds, counting_payload());
            queue.push(message);
        }
        EXPECT_EQ(released, 0);  // the moved-from originals release nothing
        EXPECT_TRUE(queue.performOperation([](const Message&) { return true; }));
        EXPECT_EQ(released, 1);
    }
    EXPECT_EQ(released, 3);
}

TEST(MessageQueue, MoveTakesOverTheMessages) {
    Client::MessageQueue source;
    for (int seconds : {3, 1, 2}) push(source, seconds);
    Client::MessageQueue target(std::move(source));
    EXPECT_EQ(drain(target), (std::vector<std::int64_t>{1, 2, 3}));
}

// Several threads queue while one drains, as senders and the I/O thread do.
TEST(MessageQueue, ConcurrentPushesAndWritesLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    Client::MessageQueue queue;
    std::atomic<int> pushers_done{0};
    std::vector<std::thread> pushers;
    for (int t = 0; t < kThreads; ++t) {
        pushers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) push(queue, t * kPerThread + i);
            ++pushers_done;
        });
    }
    std::multiset<std::int64_t> written;
    auto write_one = [&] {
        return queue.performOperation([&](const Message& head) {
            written.insert(head.validFor().count());
            return true;
        });
    };
    while (pushers_done < kThreads) write_one();
    while (write_one()) {
    }
    for (std::thread& pusher : pushers) pusher.join();

    ASSERT_EQ(written.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (std::int64_t value = 0; value < kThreads * kPerThread; ++value) {
        EXPECT_EQ(written.count(value), 1u) << value;
    }
}

}  // namespace
