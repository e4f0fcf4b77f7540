// A kelnom::Client against a real kelnod: what it writes, what it receives,
// and how its loop starts and stops.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "FreePort.hpp"
#include "TempDir.hpp"
#include "client_harness.hpp"

namespace client_test {
namespace {

using kelno_test::DaemonOptions;
using kelno_test::DaemonProcess;
using kelnom::Client;
using kelnom::Message;
using kelnom::Payload;
using kelnom::Registry;

std::vector<std::string> sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

TEST(ClientIo, ResultCallbackRunsOnceOnTheIoThread) {
    DaemonProcess daemon;
    auto client = make_client(daemon, "acker");
    Events acks;
    std::thread::id callback_thread;
    // The buffer overload: the client's payload owns the array from here on.
    char* buffer = new char[5];
    std::memcpy(buffer, "hello", 5);
    client->send(
        buffer, 5, "text", {}, Client::Seconds(5),
        [&] {
            callback_thread = std::this_thread::get_id();
            acks.add("first");
        },
        Message::AckMode::Ack);
    IoThread io(*client);
    ASSERT_TRUE(acks.waitForCount("first", 1));

    // The second ack comes after the first on the same connection.
    send_text(*client, "second", [&] { acks.add("second"); });
    ASSERT_TRUE(acks.waitForCount("second", 1));
    EXPECT_EQ(acks.count("first"), 1u);
    EXPECT_EQ(callback_thread, io.id());
    io.stop();
    EXPECT_TRUE(io.errors().all().empty());
}

TEST(ClientIo, SendTakesTheMessageByValue) {
    DaemonProcess daemon;
    RecordingClient self(daemon, "by-value", {"by-value"});  // hears its own publications
    self.start();
    ASSERT_TRUE(await_subscriptions(self, {&self}));

    auto message = [](const std::string& text) {
        return Message(text_payload(text),
                       Message::Config("by-value", {}, Client::Seconds(5), Message::AckMode::Ack));
    };
    Message kept = message("copied");
    Message moved = message("moved");
    const std::string moved_id = moved.msgId();
    self.client->send(kept, [&] { self.acked.add("copied"); });
    self.client->send(std::move(moved), [&] { self.acked.add("moved"); });

    // Each callback is registered under the id of the message that was queued.
    ASSERT_TRUE(self.acked.waitForCount("copied", 1));
    ASSERT_TRUE(self.acked.waitForCount("moved", 1));
    ASSERT_TRUE(self.received.waitForCount("copied", 1));
    ASSERT_TRUE(self.received.waitForCount("moved", 1));
    const auto texts = self.received.all();
    const auto ids = self.received_ids.all();  // each id is recorded before its text
    ASSERT_GE(ids.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == "copied") {
            EXPECT_NE(ids[i], kept.msgId());
        }
        if (texts[i] == "moved") {
            EXPECT_EQ(ids[i], moved_id);
        }
    }
}

TEST(ClientIo, QueuedMessagesGoOutShortestValidityFirst) {
    DaemonProcess daemon;
    RecordingClient watcher(daemon, "watcher", {"ordered", "prober"});
    RecordingClient prober(daemon, "prober");
    watcher.start();
    prober.start();
    ASSERT_TRUE(await_subscriptions(prober, {&watcher}));

    // Queued before the loop runs, so one pass writes all three.
    RecordingClient ordered(daemon, "ordered");
    for (int seconds : {30, 5, 20}) {
        ordered.sendRecorded(std::to_string(seconds), {}, Client::Seconds(seconds));
    }
    ordered.start();
    ASSERT_TRUE(watcher.received.waitFor(
        [](const std::vector<std::string>& seen) { return without_probes(seen).size() >= 3; }));
    EXPECT_EQ(without_probes(watcher.received.all()), (std::vector<std::string>{"5", "20", "30"}));
}

TEST(ClientIo, SubscriptionsFollowThePrefixRule) {
    DaemonProcess daemon;
    RecordingClient prefix_watcher(daemon, "watch-prefix", {"ab"});
    RecordingClient all_watcher(daemon, "watch-all", {""});
    RecordingClient ab(daemon, "ab");
    RecordingClient abc(daemon, "abc");
    RecordingClient a(daemon, "a");
    RecordingClient xy(daemon, "xy");
    for (RecordingClient* client : {&prefix_watcher, &all_watcher, &ab, &abc, &a, &xy}) {
        client->start();
    }
    ASSERT_TRUE(await_subscriptions(ab, {&prefix_watcher, &all_watcher}));

    // The daemon publishes right after it acks; these two go out before the
    // matching ones below, so a watcher that took them would see them first.
    a.sendRecorded("from a");
    xy.sendRecorded("from xy");
    ASSERT_TRUE(a.acked.waitForCount("from a", 1));
    ASSERT_TRUE(xy.acked.waitForCount("from xy", 1));
    ab.sendRecorded("from ab");
    abc.sendRecorded("from abc");

    auto has_both_matches = [](const std::vector<std::string>& seen) {
        return std::count(seen.begin(), seen.end(), "from ab") == 1 &&
               std::count(seen.begin(), seen.end(), "from abc") == 1;
    };
    ASSERT_TRUE(prefix_watcher.received.waitFor(has_both_matches));
    ASSERT_TRUE(all_watcher.received.waitFor(has_both_matches));
    EXPECT_EQ(sorted(without_probes(prefix_watcher.received.all())),
              (std::vector<std::string>{"from ab", "from abc"}));
    EXPECT_EQ(sorted(without_probes(all_watcher.received.all())),
              (std::vector<std::string>{"from a", "from ab", "from abc", "from xy"}));
}

TEST(ClientIo, ClientWithoutSubscriptionsGetsAcksAndInboxDeliveries) {
    DaemonProcess daemon;
    RecordingClient storer(daemon, "storer");
    storer.sendRecorded("kept for lonely", {"lonely"});
    storer.start();
    ASSERT_TRUE(storer.acked.waitForCount("kept for lonely", 1));

    RecordingClient lonely(daemon, "lonely");
    lonely.sendRecorded("own");
    lonely.start();
    EXPECT_TRUE(lonely.acked.waitForCount("own", 1));
    EXPECT_TRUE(lonely.received.waitForCount("kept for lonely", 1));  // its first inbox poll
}

// One life of a client under `id`: the ids of the messages that its first
// inbox poll brought, acknowledged when `acknowledge` is set. Nothing when the
// daemon did not hear the client at all (see inbox_round).
std::optional<std::vector<std::string>> inbox_life(const DaemonProcess& daemon,
                                                   const std::string& id, bool acknowledge) {
    auto client = make_client(daemon, id);
    Events delivered;
    Events registry_replies;
    client->onMessage([&](std::unique_ptr<Message> message) {
        if (acknowledge) client->sendAck(*message);
        delivered.add(message->msgId());
    });
    // A query at every pass. The second reply follows the answer to the first
    // inbox poll and any ack written while handling it.
    client->obtainRegistry([&](std::shared_ptr<Registry>) { registry_replies.add("reply"); },
                           Client::Seconds(0));
    IoThread io(*client);
    if (!registry_replies.waitForCount("reply", 1, std::chrono::milliseconds(3000))) {
        return std::nullopt;
    }
    EXPECT_TRUE(registry_replies.waitForCount("reply", 2));
    io.stop();
    EXPECT_TRUE(io.errors().all().empty());
    return delivered.all();
}

// A new connection whose identity the daemon still holds for the previous
// client, closed a moment ago, is ignored by the daemon's ROUTER until it has
// seen the old one close; such a client hears nothing and is started afresh.
std::vector<std::string> inbox_round(const DaemonProcess& daemon, const std::string& id,
                                     bool acknowledge) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (auto delivered = inbox_life(daemon, id, acknowledge)) return *delivered;
    }
    ADD_FAILURE() << "the daemon never answered a client with id " << id;
    return {};
}

TEST(ClientIo, StoredMessageArrivesAtEachPollUntilAcknowledged) {
    DaemonProcess daemon;
    RecordingClient storer(daemon, "storer");
    storer.sendRecorded("kept", {"inbox-app"});
    storer.start();
    ASSERT_TRUE(storer.acked.waitForCount("kept", 1));

    const auto first = inbox_round(daemon, "inbox-app", false);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(inbox_round(daemon, "inbox-app", true), first);  // not acknowledged: again
    EXPECT_TRUE(inbox_round(daemon, "inbox-app", false).empty());
}

TEST(ClientIo, RegistryIsDeliveredAndRefreshed) {
    DaemonProcess daemon;
    auto client = make_client(daemon, "registry-app");
    Events registries;
    client->obtainRegistry(
        [&](std::shared_ptr<Registry> registry) {
            registries.add(registry->payload().type() + " " + payload_text(*registry));
        },
        Client::Seconds(0));
    IoThread io(*client);
    ASSERT_TRUE(registries.waitForCount("JSON null", 1));

    // A downstream node polls the daemon and so enters its registry.
    DaemonOptions downstream_options;
    downstream_options.node_name = "down";
    downstream_options.upstream = daemon.channelerEndpoint();
    DaemonProcess downstream(downstream_options);
    EXPECT_TRUE(registries.waitForCount("JSON {\"down\":null}", 1));
}

struct RegistryQueryCase {
    const char* name;
    std::optional<Client::Seconds> interval;  // none: obtainRegistry is not called
    std::size_t queries;
};

// Test output names the case instead of dumping its bytes.
void PrintTo(const RegistryQueryCase& c, std::ostream* os) { *os << c.name; }

class RegistryQueries : public testing::TestWithParam<RegistryQueryCase> {};

// Counted on the daemon over three passes of the loop.
TEST_P(RegistryQueries, FollowTheInterval) {
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.process().waitForOut("Get reg on channeler"));  // the start-up probe
    const std::size_t before = kelno_test::count_of(daemon.process().out(), "Get reg on channeler");

    auto client = make_client(daemon, "querier");
    Events registries;
    Events acks;
    if (GetParam().interval) {
        client->obtainRegistry([&](std::shared_ptr<Registry>) { registries.add("reply"); },
                               *GetParam().interval);
    }
    IoThread io(*client);
    // A message queued after the previous one's ack goes out in a later pass,
    // ahead of that pass's query; so the daemon has seen the queries of the
    // first two passes once it has received the third message.
    for (const std::string pass : {"1", "2", "3"}) {
        send_text(*client, pass, [&acks, pass] { acks.add(pass); });
        ASSERT_TRUE(acks.waitForCount(pass, 1));
    }
    ASSERT_TRUE(daemon.process().waitForOutCount("Received MSG", 3));
    EXPECT_EQ(kelno_test::count_of(daemon.process().out(), "Get reg on channeler") - before,
              GetParam().queries);
    EXPECT_EQ(registries.all().size(), GetParam().queries);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, RegistryQueries,
    testing::Values(RegistryQueryCase{"WithoutObtainRegistry", std::nullopt, 0},
                    // Saturates instead of overflowing the clock arithmetic.
                    RegistryQueryCase{"LongestInterval", Client::Seconds::max(), 1},
                    RegistryQueryCase{"OneHour", Client::Seconds(3600), 1}),
    [](const testing::TestParamInfo<RegistryQueryCase>& info) { return info.param.name; });

TEST(ClientIo, MessagesQueuedBeforeTheDaemonStartsGoOutOnceItRuns) {
    const int channeler_port = kelno_test::free_port();
    int broadcaster_port = kelno_test::free_port();
    while (broadcaster_port == channeler_port) broadcaster_port = kelno_test::free_port();

    Client client("early", broadcaster_port, channeler_port, {});
    Events acks;
    send_text(client, "early bird", [&] { acks.add("acked"); });
    IoThread io(client);

    kelno_test::TempDir dir;
    const std::string config =
        dir.write("kelnod.conf",
                  "kelno.node_name=late\nkelno.channeler.port=" + std::to_string(channeler_port) +
                      "\nkelno.broadcaster.port=" + std::to_string(broadcaster_port) + "\n");
    kelno_test::ChildProcess daemon({kelno_test::kelnod_path(), config});
    EXPECT_TRUE(acks.waitForCount("acked", 1));
    EXPECT_TRUE(daemon.waitForOut("Received BOX"));  // the first inbox poll waited too
    io.stop();
    EXPECT_TRUE(io.errors().all().empty());
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.waitExit(), 0);
}

TEST(ClientLifetime, DestroyingDiscardsQueuedMessagesAndWaitingCallbacks) {
    int released = 0;
    int called = 0;
    {
        Client client("discarding", kelno_test::free_port(), kelno_test::free_port(), {});
        Payload counted(new char[8], 8, "bytes", [&](char* buffer) {
            delete[] buffer;
            ++released;
        });
        client.send(
            std::move(counted), {"somewhere"}, Client::Seconds(5), [&] { ++called; },
            Message::AckMode::Ack);
        // Released with array delete; the leak checker of the sanitizer build sees a miss.
        client.send(
            new char[8], 8, "bytes", {"somewhere"}, Client::Seconds(5), [&] { ++called; },
            Message::AckMode::Ack);
    }
    EXPECT_EQ(released, 1);
    EXPECT_EQ(called, 0);
}

struct ConnectFailureCase {
    const char* name;
    int broadcaster_port;
    int channeler_port;
    const char* context_line;
};

// Test output names the case instead of dumping its bytes.
void PrintTo(const ConnectFailureCase& c, std::ostream* os) { *os << c.name; }

class ConnectFailure : public testing::TestWithParam<ConnectFailureCase> {};

TEST_P(ConnectFailure, NamesThePortOfTheFailedConnection) {
    try {
        Client client("unconnectable", GetParam().broadcaster_port, GetParam().channeler_port, {});
        FAIL() << "constructed";
    } catch (const kelnou::Exception& error) {
        EXPECT_EQ(error.contextTrace(),
                  (std::vector<std::string>{"While trying to connect", GetParam().context_line}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ConnectFailure,
    testing::Values(ConnectFailureCase{"Listener", -1, 5555,
                                       "While trying to connect subscriber to tcp:://localhost:-1"},
                    ConnectFailureCase{
                        "Dispenser", 5556, -7,
                        "While trying to connect two way comms to tcp:://localhost:-7"}),
    [](const testing::TestParamInfo<ConnectFailureCase>& info) { return info.param.name; });

// ---- Other threads ---------------------------------------------------------

TEST(ClientThreads, TerminateFromAnotherThreadEndsTheLoop) {
    DaemonProcess daemon;
    auto client = make_client(daemon, "terminator");
    Events passes;
    client->obtainRegistry([&](std::shared_ptr<Registry>) { passes.add("pass"); },
                           Client::Seconds(0));
    client->terminate();  // before the loop: forgotten
    IoThread io(*client, Client::Milliseconds(200));
    ASSERT_TRUE(passes.waitForCount("pass", 3));
    EXPECT_FALSE(io.waitReturned(std::chrono::milliseconds(0)));

    client->terminate();
    EXPECT_TRUE(io.waitReturned());
    EXPECT_TRUE(io.errors().all().empty());
}

TEST(ClientThreads, ConcurrentSendersAllGetTheirAcksOnTheIoThread) {
    constexpr int kSenders = 4;
    constexpr int kPerSender = 50;
    DaemonProcess daemon;
    auto client = make_client(daemon, "busy");
    Events acks;
    IoThread io(*client);
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&, sender] {
            for (int i = 0; i < kPerSender; ++i) {
                const std::string label = std::to_string(sender) + "/" + std::to_string(i);
                send_text(*client, label, [&, label] {
                    acks.add(std::this_thread::get_id() == io.id() ? label : "elsewhere");
                });
            }
        });
    }
    for (std::thread& sender : senders) sender.join();

    ASSERT_TRUE(acks.waitFor([&](const std::vector<std::string>& seen) {
        return seen.size() >= static_cast<std::size_t>(kSenders * kPerSender);
    }));
    const auto seen = acks.all();
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), seen.size());
    EXPECT_EQ(acks.count("elsewhere"), 0u);
    io.stop();
    EXPECT_TRUE(io.errors().all().empty());
}

}  // namespace
}  // namespace client_test
