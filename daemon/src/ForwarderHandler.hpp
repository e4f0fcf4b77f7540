#pragma once

#include <memory>

#include "NodeParts.hpp"
#include "RecentIds.hpp"

namespace cplt {
class Socket;
}

namespace kelnod {

// Serves one request from the upstream node per call: acknowledgements of
// what we passed up, messages kept upstream for this node, and registry
// queries.
//
// On a reliable node a receipt from upstream ends the wait in the outbox, and
// a message that came down is either for this node (published once: its id
// joins the accepted ones) or on its way to a node below (kept for that
// node's poll and not published here, as it is not this node's); either way
// it is acknowledged once the wake-up's changes are committed.
class ForwarderHandler {
public:
    // How many ids of messages that came down are remembered, so that the
    // copies an upstream node hands over for piled-up polls are published
    // once. The copies of one message arrive within a few polls of each other.
    static constexpr std::size_t _remembered_deliveries = 4096;

    explicit ForwarderHandler(NodeParts& parts);

    void operator()(cplt::Socket* forwarder);

private:
    void handleAck(const std::string& message_id);
    void handleMessage(const kelnom::Message& message);
    void handleReliably(const std::shared_ptr<kelnom::Message>& message);

    const Settings& settings;
    NodeSockets& sockets;
    KeptMessages& store;
    NodeRegistry& registry;
    HeldReceipts& receipts;
    HeldPublications& publications;
    UpstreamInboxPoll& upstream_poll;
    NodeStats& stats;
    ReliableChain* chain;
    RecentIds delivered;  // ids of messages from upstream published here
};

}  // namespace kelnod
