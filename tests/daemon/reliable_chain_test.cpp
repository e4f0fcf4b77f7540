// kelno.chain.reliable: chains of real kelnod processes that deliver a routed
// message to its node at any depth, exactly once; resend what an upstream
// node lost; drain a backlog at link speed; and mix with plain nodes.
#include <gtest/gtest.h>
#include <zmq.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"
#include "StatsReader.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

using namespace std::chrono_literals;

const std::string reliable = "kelno.chain.reliable=true\nkelno.stats.interval=1\n";
const std::string plain = "kelno.stats.interval=1\n";
// The app id of the test messages, and the topic every test client subscribes to.
const std::string topic = "d";

std::string id_of(const Frames& publication) {
    for (const auto& frame : publication) {
        if (frame.rfind("id|", 0) == 0) return frame.substr(3);
    }
    return {};
}

WireMessage message_for(const std::vector<std::string>& routes) {
    WireMessage message;
    message.routes = routes;
    message.app_id = topic;
    return message;
}

// The publications one node's subscriber saw, by message id.
class Deliveries {
public:
    explicit Deliveries(LocalClient& client) : client(client) {}

    // Reads until `id` has been published, at most `timeout`.
    bool waitFor(const std::string& id, std::chrono::seconds timeout = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (count(id) == 0 && std::chrono::steady_clock::now() < deadline) readOne(1s);
        return count(id) != 0;
    }
    // Reads what else comes until nothing has for `quiet`.
    void drain(std::chrono::milliseconds quiet = 500ms) {
        while (readOne(quiet)) {
        }
    }
    int count(const std::string& id) const {
        auto seen = by_id.find(id);
        return seen == by_id.end() ? 0 : seen->second;
    }

private:
    bool readOne(std::chrono::milliseconds timeout) {
        auto publication = client.nextPublication(timeout);
        if (!publication) return false;
        ++by_id[id_of(*publication)];
        return true;
    }

    LocalClient& client;
    std::map<std::string, int> by_id;
};

// True once the node keeps nothing, neither for polls nor in its outbox.
bool keeps_nothing(const DaemonProcess& node) {
    const auto document = StatsReader(node).until([](const nlohmann::json& document) {
        const auto& upstream = document["upstream"];
        return document["messages_stored"] == 0 &&
               (upstream.is_null() || upstream["unacknowledged"] == 0);
    });
    const auto& upstream = document["upstream"];
    return document.value("messages_stored", -1) == 0 &&
           (upstream.is_null() || upstream.value("unacknowledged", -1) == 0);
}

// Named nodes, each with its upstream among the earlier ones, and a
// subscribed local client on each.
class Tree {
public:
    struct Node {
        std::string name;
        std::string upstream;  // empty for the top
        std::string config = reliable;
    };

    explicit Tree(const std::vector<Node>& layout) {
        for (const auto& node : layout) {
            DaemonOptions options;
            options.node_name = node.name;
            if (!node.upstream.empty()) options.upstream = daemon(node.upstream).channelerEndpoint();
            options.inbox_interval = 1;
            options.extra_config = node.config;
            daemons[node.name] = std::make_unique<DaemonProcess>(options);
            clients[node.name] = std::make_unique<LocalClient>(*daemons[node.name],
                                                               std::vector<std::string>{topic});
            deliveries[node.name] = std::make_unique<Deliveries>(*clients[node.name]);
        }
    }
    ~Tree() {
        for (auto& [name, node] : daemons) expect_orderly_stop(*node);
    }

    DaemonProcess& daemon(const std::string& name) { return *daemons.at(name); }
    LocalClient& client(const std::string& name) { return *clients.at(name); }
    Deliveries& seen(const std::string& name) { return *deliveries.at(name); }
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const auto& entry : daemons) all.push_back(entry.first);
        return all;
    }

private:
    std::map<std::string, std::unique_ptr<DaemonProcess>> daemons;
    std::map<std::string, std::unique_ptr<LocalClient>> clients;
    std::map<std::string, std::unique_ptr<Deliveries>> deliveries;
};

// top <- mid <- {left, right}, left <- bottom.
std::vector<Tree::Node> five_nodes() {
    return {{"top", ""}, {"mid", "top"}, {"left", "mid"}, {"right", "mid"}, {"bottom", "left"}};
}

// Up, down and across, through one, two and three levels: each message is
// published on its addressed node once, and afterwards no node keeps any.
TEST(ReliableChain, RoutedMessagesReachTheirNodeOnceAtAnyDepth) {
    Tree tree(five_nodes());
    struct Case {
        std::string from, to;
    };
    const std::vector<Case> cases = {{"top", "bottom"},  {"bottom", "top"}, {"left", "right"},
                                     {"bottom", "right"}, {"right", "mid"},  {"mid", "bottom"},
                                     {"top", "mid"}};
    std::vector<std::string> ids;
    for (const auto& route : cases) {
        WireMessage message = message_for({route.to});
        ids.push_back(message.id);
        ASSERT_EQ(tree.client(route.from).request(message.frames()), ack_frames(message.id))
            << route.from << " -> " << route.to;
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(tree.seen(cases[i].to).waitFor(ids[i]))
            << cases[i].from << " -> " << cases[i].to << " never arrived";
    }
    for (const auto& name : tree.names()) {
        EXPECT_TRUE(keeps_nothing(tree.daemon(name))) << name << " still keeps something";
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        tree.seen(cases[i].to).drain();
        EXPECT_EQ(tree.seen(cases[i].to).count(ids[i]), 1) << cases[i].from << " -> " << cases[i].to;
    }
}

// A copy of a message the node has accepted is acknowledged again, and
// nothing else: not published, not passed up, not kept. A plain node handles
// each copy as a new message, as it always has.
TEST(ReliableChain, ACopyIsAcknowledgedButNotHandledAgain) {
    for (const auto& [config, publications] : {std::pair{reliable, 1}, std::pair{plain, 2}}) {
        SCOPED_TRACE(config);
        Tree tree({{"top", "", config}, {"low", "top", config}});
        const WireMessage message = message_for({});
        for (int copy = 0; copy < 2; ++copy) {
            ASSERT_EQ(tree.client("low").request(message.frames()), ack_frames(message.id));
        }
        ASSERT_TRUE(tree.seen("top").waitFor(message.id));
        EXPECT_TRUE(tree.seen("low").waitFor(message.id));
        for (const auto& name : {"top", "low"}) {
            tree.seen(name).drain();
            EXPECT_EQ(tree.seen(name).count(message.id), publications) << name;
        }
    }
}

// The upstream node is killed and started again while messages are passed up
// to it: the outbox passes up again what it lost, so the upstream node keeps
// every one of them (they are for a node that never polls), and the node
// below keeps nothing waiting.
TEST(ReliableChain, WhatAnUpstreamNodeLostIsPassedUpAgain) {
    TempDir dir;
    Tree tree({{"top", "", reliable + "kelno.store.path=" + dir.path() + "/top.db\n"},
               {"low", "top", reliable + "kelno.chain.resend_after=1\n"}});
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 50; ++i) {
            WireMessage message = message_for({"elsewhere"});
            ASSERT_EQ(tree.client("low").request(message.frames()), ack_frames(message.id));
        }
        tree.daemon("top").kill();
        tree.daemon("top").restart();
    }
    const auto document = StatsReader(tree.daemon("top")).until(
        [](const nlohmann::json& d) { return d["messages_stored"] == 150; }, 60s);
    EXPECT_EQ(document["messages_stored"], 150);
    EXPECT_TRUE(keeps_nothing(tree.daemon("low")));
}

// The outbox is in the store file: a node killed before its upstream node
// could take what it passed up sends it after the restart.
TEST(ReliableChain, TheOutboxSurvivesARestart) {
    TempDir dir;
    Tree tree({{"top", ""}, {"low", "top", reliable + "kelno.store.path=" + dir.path() + "/low.db\n"}});
    ASSERT_TRUE(tree.daemon("top").stop());
    for (int i = 0; i < 20; ++i) {
        const WireMessage message = message_for({"elsewhere"});
        ASSERT_EQ(tree.client("low").request(message.frames()), ack_frames(message.id));
    }
    tree.daemon("low").kill();
    tree.daemon("low").restart();
    // Besides the 20, the accepted ids hold the local client's subscription probe.
    EXPECT_TRUE(tree.daemon("low").process().waitForOut(
        "Chain: 20 unacknowledged messages passed up loaded, 21 accepted message ids\n"));
    tree.daemon("top").restart();
    const auto document = StatsReader(tree.daemon("top")).until(
        [](const nlohmann::json& d) { return d["messages_stored"] == 20; });
    EXPECT_EQ(document["messages_stored"], 20);
    EXPECT_TRUE(keeps_nothing(tree.daemon("low")));
}

// A backlog kept upstream drains at link speed: after a poll that brought a
// message the node polls again at once, where a plain node would wait its
// inbox interval (here 5 s) for each message.
TEST(ReliableChain, ABacklogDrainsWithoutWaitingForTheInterval) {
    TempDir dir;
    DaemonOptions top_options;
    top_options.node_name = "top";
    top_options.extra_config = reliable + "kelno.store.path=" + dir.path() + "/top.db\n";
    DaemonProcess top(top_options);
    std::vector<std::string> ids;
    {
        LocalClient sender(top, {topic});
        for (int i = 0; i < 300; ++i) {
            WireMessage message = message_for({"low"});
            ids.push_back(message.id);
            ASSERT_EQ(sender.request(message.frames()), ack_frames(message.id));
        }
    }
    // The node below and its subscriber are there before the backlog can come down.
    ASSERT_EQ(top.stop(), 0);
    DaemonOptions low_options;
    low_options.node_name = "low";
    low_options.upstream = top.channelerEndpoint();
    low_options.inbox_interval = 5;
    low_options.extra_config = reliable;
    DaemonProcess low(low_options);
    LocalClient subscriber(low, {topic});
    Deliveries seen(subscriber);
    top.restart();
    // 300 intervals would be 25 minutes.
    for (const auto& id : ids) ASSERT_TRUE(seen.waitFor(id, 60s)) << id;
    EXPECT_TRUE(keeps_nothing(top));
    expect_orderly_stop(low);
    expect_orderly_stop(top);
}

// Reliable and plain nodes in one chain, each way round: messages still go up
// and come down to their node, once, while nothing fails.
TEST(ReliableChain, MixedPairsDeliverBothWays) {
    for (const auto& [upper, lower] : {std::pair{reliable, plain}, std::pair{plain, reliable}}) {
        SCOPED_TRACE("upper: " + upper + "lower: " + lower);
        Tree tree({{"top", "", upper}, {"low", "top", lower}});
        const WireMessage up = message_for({});
        const WireMessage down = message_for({"low"});
        ASSERT_EQ(tree.client("low").request(up.frames()), ack_frames(up.id));
        ASSERT_EQ(tree.client("top").request(down.frames()), ack_frames(down.id));
        EXPECT_TRUE(tree.seen("top").waitFor(up.id));
        EXPECT_TRUE(tree.seen("low").waitFor(down.id));
        EXPECT_TRUE(keeps_nothing(tree.daemon("top")));
        EXPECT_TRUE(keeps_nothing(tree.daemon("low")));
        tree.seen("top").drain();
        tree.seen("low").drain();
        EXPECT_EQ(tree.seen("top").count(up.id), 1);
        EXPECT_EQ(tree.seen("low").count(down.id), 1);
    }
}

// The settings: the start-up line when on, and a refusal with status 1 for
// each value that is not one.
TEST(ReliableChain, SettingsAreCheckedAtStart) {
    {
        DaemonOptions options;
        options.extra_config = "kelno.chain.reliable=true\nkelno.chain.resend_after=7\n";
        DaemonProcess node(options);
        EXPECT_TRUE(node.process().waitForOut(
            "Chain: reliable, unacknowledged messages passed up again after 7 seconds, copies "
            "dropped within the last 100000 message ids\n"));
        expect_orderly_stop(node);
    }
    struct Refusal {
        std::string line;
        std::string says;
    };
    const std::vector<Refusal> refusals = {
        {"kelno.chain.reliable=yes",
         "kelno.chain.reliable must be true or false (read \"yes\")"},
        {"kelno.chain.resend_after=0",
         "kelno.chain.resend_after must be a whole number of seconds from 1 to 86400 (read \"0\")"},
        {"kelno.chain.resend_after=86401", "kelno.chain.resend_after must be a whole number"},
        {"kelno.chain.dedup_window=many",
         "kelno.chain.dedup_window must be a whole number of message ids from 1 to 10000000 "
         "(read \"many\")"},
        {"kelno.chain.dedup_window=0", "kelno.chain.dedup_window must be a whole number"},
    };
    TempDir dir;
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.line);
        const std::string config = dir.write("bad.conf", "kelno.node_name=n\n" + refusal.line + "\n");
        ChildProcess child({kelnod_path(), config});
        EXPECT_EQ(child.waitExit(30s), 1);
        EXPECT_NE(child.err().find(refusal.says), std::string::npos) << child.err();
    }
}

}  // namespace
}  // namespace kelno_test
