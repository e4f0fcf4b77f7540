// A node with a store file is killed (SIGKILL) and started again at random
// moments while a sender floods it with routed messages and acknowledges some
// of those it was told the node has. Afterwards inbox polls hand out every
// message whose receipt the sender got, and none whose removal the node had
// confirmed (by serving a later request of the same sender) comes back.
#include <gtest/gtest.h>
#include <zmq.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

constexpr int kKills = 20;
const std::string kRoute = "parked";

// The message id of a receipt, or empty for anything else.
std::string receipt_id(const Frames& reply) {
    const std::string prefix = "msg_id|";
    if (reply.size() != 5 || reply[1] != "ACK" || reply[2].rfind(prefix, 0) != 0) return {};
    return reply[2].substr(prefix.size());
}

class Sender {
public:
    explicit Sender(const DaemonProcess& node) { peer.connect(node.channelerEndpoint()); }

    void sendRouted() {
        WireMessage message;
        message.routes = {kRoute};
        sent.insert(message.id);
        sent_at[message.id] = requests++;
        peer.send(message.frames());
    }

    // Asks the node to remove one message it has; confirmed once a request
    // sent after it is answered by the same run of the node.
    void removeOne(std::mt19937& random) {
        std::vector<std::string> candidates;
        for (const auto& id : received) {
            if (!removals.count(id)) candidates.push_back(id);
        }
        if (candidates.empty()) return;
        const std::string& id = candidates[random() % candidates.size()];
        peer.send(ack_frames(id));
        removals.insert(id);
        unconfirmed.emplace_back(requests++, id);
    }

    // Reads up to `count` receipts (fewer when none comes for a while).
    void readReceipts(int count) {
        for (int i = 0; i < count; ++i) {
            auto reply = peer.receive(std::chrono::seconds(5));
            if (!reply) return;
            const std::string id = receipt_id(*reply);
            if (id.empty()) continue;
            received.insert(id);
            // Served in order: every removal sent before this message is done.
            // Only this run's: a removal lost with a killed run is not confirmed.
            const std::uint64_t message_sent_at = sent_at[id];
            auto removal = unconfirmed.begin();
            for (; removal != unconfirmed.end() && removal->first < message_sent_at; ++removal) {
                confirmed.insert(removal->second);
            }
            unconfirmed.erase(unconfirmed.begin(), removal);
        }
    }

    // The node was killed: what was sent and not confirmed may be lost.
    void nodeKilled() { unconfirmed.clear(); }

    // Reads every receipt up to the answer to a registry query sent now:
    // those the killed run sent before it died, and those of the new run for
    // what waited in our queue. None of them confirms anything.
    void readUntilCaughtUp() {
        peer.send(registry_query_frames());
        while (auto reply = peer.receive(std::chrono::seconds(10))) {
            if (reply->size() > 1 && (*reply)[1] == "REG") return;
            const std::string id = receipt_id(*reply);
            if (!id.empty()) received.insert(id);
        }
        ADD_FAILURE() << "the restarted node did not answer";
    }

    // Polls until nothing is kept; acknowledges each message after reading it.
    std::set<std::string> drain() {
        std::set<std::string> kept;
        for (;;) {
            peer.send(inbox_frames(kRoute, "clnt"));
            peer.send(registry_query_frames());  // answers after the poll
            auto reply = peer.receive(std::chrono::seconds(10));
            if (!reply || reply->size() < 3 || (*reply)[1] == "REG") break;
            peer.receive(std::chrono::seconds(10));  // the registry reply
            std::string id;
            for (const auto& frame : *reply) {
                if (frame.rfind("id|", 0) == 0) id = frame.substr(3);
            }
            if (!kept.insert(id).second) break;  // a removal did not take: stop, report
            peer.send(ack_frames(id));
        }
        return kept;
    }

    RawPeer peer{ZMQ_DEALER, "flooder"};
    std::set<std::string> sent, received, removals, confirmed;
    std::map<std::string, std::uint64_t> sent_at;  // message id -> when it was sent
    std::vector<std::pair<std::uint64_t, std::string>> unconfirmed;  // removals, oldest first
    std::uint64_t requests = 0;  // sent so far, messages and removals
};

TEST(StoreFileUnderKills, KeepsEveryAcknowledgedMessageAndNoConfirmedRemoval) {
    TempDir dir;
    DaemonProcess node({"node", std::nullopt, 1, "kelno.store.path=" + dir.path() + "/store.db\n"});
    Sender sender(node);
    std::mt19937 random(20261210);

    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const int burst = 50 + static_cast<int>(random() % 300);
        for (int i = 0; i < burst; ++i) {
            sender.sendRouted();
            if (i % 10 == 5) sender.removeOne(random);
        }
        // Killed while the rest of the burst is still on its way.
        sender.readReceipts(static_cast<int>(random() % burst));
        node.kill();
        sender.nodeKilled();
        node.restart();
        sender.readUntilCaughtUp();
    }

    const std::set<std::string> kept = sender.drain();
    for (const auto& id : sender.received) {
        if (!sender.removals.count(id)) {
            EXPECT_TRUE(kept.count(id)) << "lost: " << id;
        }
    }
    for (const auto& id : sender.confirmed) EXPECT_FALSE(kept.count(id)) << "came back: " << id;
    for (const auto& id : kept) EXPECT_TRUE(sender.sent.count(id)) << "never sent: " << id;
    EXPECT_GT(sender.received.size(), 1000u);
    EXPECT_GT(sender.confirmed.size(), 50u);
    expect_orderly_stop(node);
}

}  // namespace
}  // namespace kelno_test
