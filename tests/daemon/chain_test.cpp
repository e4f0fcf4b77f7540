// Chains of real kelnod processes on one machine: a message sent on the lowest
// node travels up through every node, and what is kept upstream for a node
// comes down at that node's inbox poll.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "DaemonProcess.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"

namespace kelno_test {
namespace {

// Nodes "n0" (top) to "n<length-1>" (bottom), each one below the previous, with
// a local client on each.
class Chain {
public:
    explicit Chain(int length) {
        for (int i = 0; i < length; ++i) {
            DaemonOptions options;
            options.node_name = "n" + std::to_string(i);
            if (i > 0) options.upstream = nodes.back()->channelerEndpoint();
            options.inbox_interval = 1;
            nodes.push_back(std::make_unique<DaemonProcess>(options));
            clients.push_back(std::make_unique<LocalClient>(*nodes.back()));
        }
    }

    ~Chain() {
        for (auto& node : nodes) expect_orderly_stop(*node);
    }

    int length() const { return static_cast<int>(nodes.size()); }
    DaemonProcess& node(int i) { return *nodes[i]; }
    LocalClient& client(int i) { return *clients[i]; }
    LocalClient& bottom() { return *clients.back(); }

    // The origin nodes of the message as node `i` publishes it: every node from
    // the bottom up to `i` appends its name before passing the message up; the
    // top node has no upstream and appends nothing.
    std::string originAt(int i) const {
        std::string origin;
        for (int node = length() - 1; node >= std::max(i, 1); --node) {
            origin += "n" + std::to_string(node) + ",";
        }
        return origin;
    }

private:
    std::vector<std::unique_ptr<DaemonProcess>> nodes;
    std::vector<std::unique_ptr<LocalClient>> clients;
};

class ChainOfLength : public ::testing::TestWithParam<int> {};

// A message from the bottom addressed to n1 goes up to the top, published on
// every node on the way; the top keeps it and n1 fetches it with its inbox
// poll. Every copy kept on the way is removed by the acknowledgements.
TEST_P(ChainOfLength, MessageTravelsUpAndComesDownToItsNode) {
    Chain chain(GetParam());
    WireMessage message;
    message.routes = {"n1"};
    ASSERT_EQ(chain.bottom().request(message.frames()), ack_frames(message.id));

    for (int i = chain.length() - 1; i >= 0; --i) {
        SCOPED_TRACE("published on n" + std::to_string(i));
        WireMessage published = message;
        published.origin = chain.originAt(i);
        EXPECT_EQ(chain.client(i).nextPublication(), publication_frames(published));
    }

    // Down from the top at n1's poll, published there once more, as kept above.
    WireMessage came_down = message;
    came_down.origin = chain.originAt(0);
    EXPECT_EQ(chain.client(1).nextPublication(), publication_frames(came_down));

    for (int i = 0; i < chain.length(); ++i) {
        SCOPED_TRACE("store of n" + std::to_string(i));
        EXPECT_TRUE(chain.client(i).waitUntilNothingKeptFor("n1"));
    }
}

INSTANTIATE_TEST_SUITE_P(TwoAndThreeNodes, ChainOfLength, ::testing::Values(2, 3));

TEST(TwoNodeChain, TopKeepsAMessageForAnUnknownNodeUntilAcknowledged) {
    Chain chain(2);
    WireMessage message;
    message.routes = {"elsewhere"};
    ASSERT_EQ(chain.bottom().request(message.frames()), ack_frames(message.id));

    WireMessage kept = message;
    kept.origin = "n1,";
    ASSERT_EQ(chain.client(0).nextPublication(), publication_frames(kept));
    // The top's acknowledgement removed the bottom's copy.
    EXPECT_TRUE(chain.bottom().waitUntilNothingKeptFor("elsewhere"));
    // The top keeps it, for every poll, until someone acknowledges it there.
    for (int poll = 0; poll < 2; ++poll) {
        EXPECT_EQ(chain.client(0).request(inbox_frames("elsewhere", "clnt")), kept.frames());
    }
    chain.client(0).channel.send(ack_frames(message.id));
    EXPECT_TRUE(chain.client(0).waitUntilNothingKeptFor("elsewhere"));
}

TEST(TwoNodeChain, TopRegistersTheNodeBelowByName) {
    Chain chain(2);
    ASSERT_TRUE(chain.node(0).process().waitForOut("{\"n1\":null}\n"));
    EXPECT_EQ(chain.client(0).request(registry_query_frames()),
              registry_reply_frames(R"({"n1":null})"));
}

}  // namespace
}  // namespace kelno_test
