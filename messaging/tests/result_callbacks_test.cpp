#include <gtest/gtest.h>

#include <stdexcept>

#include <kelnom/Client.hpp>

namespace {

using kelnom::Client;
using kelnom::Message;
using kelnom::Payload;
using kelnom::internal_objects::Ack;

Message any_message() {
    return Message(Payload(0, "text"),
                   Message::Config("app", {}, Message::Seconds(5), Message::AckMode::Ack));
}

TEST(MsgResultCallbacks, CallbackRunsOnceForItsAckAndNotForOthers) {
    Client::MsgResultCallbacks callbacks;
    Message message = any_message();
    int runs = 0;
    callbacks.registerCallback(message, [&] { ++runs; });

    Ack other(any_message().msgId());
    callbacks.handleAck(other);
    EXPECT_EQ(runs, 0);

    Ack ack = message.generate_ack();
    callbacks.handleAck(ack);
    callbacks.handleAck(ack);  // the second ack finds nothing
    EXPECT_EQ(runs, 1);
}

TEST(MsgResultCallbacks, SecondRegistrationReplacesTheFirst) {
    Client::MsgResultCallbacks callbacks;
    Message message = any_message();
    int first = 0;
    int second = 0;
    callbacks.registerCallback(message, [&] { ++first; });
    callbacks.registerCallback(message, [&] { ++second; });
    Ack ack = message.generate_ack();
    callbacks.handleAck(ack);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST(MsgResultCallbacks, EmptyCallbackIsNotStored) {
    Client::MsgResultCallbacks callbacks;
    Message message = any_message();
    callbacks.registerCallback(message, Client::ResultCallback());
    Ack ack = message.generate_ack();
    // A stored empty function would raise std::bad_function_call here.
    EXPECT_NO_THROW(callbacks.handleAck(ack));
}

TEST(MsgResultCallbacks, CallbackThatRaisesStaysRegistered) {
    Client::MsgResultCallbacks callbacks;
    Message message = any_message();
    int runs = 0;
    callbacks.registerCallback(message, [&] {
        if (++runs == 1) throw std::runtime_error("not yet");
    });
    Ack ack = message.generate_ack();
    EXPECT_THROW(callbacks.handleAck(ack), std::runtime_error);
    callbacks.handleAck(ack);  // the mutex was released and the entry kept
    callbacks.handleAck(ack);
    EXPECT_EQ(runs, 2);
}

TEST(MsgResultCallbacks, MoveTakesOverTheWaitingCallbacks) {
    Client::MsgResultCallbacks source;
    Message message = any_message();
    int runs = 0;
    source.registerCallback(message, [&] { ++runs; });
    Client::MsgResultCallbacks target(std::move(source));
    Ack ack = message.generate_ack();
    target.handleAck(ack);
    EXPECT_EQ(runs, 1);
}

}  // namespace
