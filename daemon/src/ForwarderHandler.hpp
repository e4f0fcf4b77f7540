#pragma once

#include "KeptMessages.hpp"
#include "NodeRegistry.hpp"
#include "NodeSockets.hpp"
#include "NodeStats.hpp"
#include "RecentIds.hpp"

namespace cplt {
class Socket;
}

namespace kelnod {

// Serves one request from the upstream node per call: acknowledgements of
// what we passed up, messages kept upstream for this node, and registry
// queries.
class ForwarderHandler {
public:
    // How many ids of messages that came down are remembered, so that the
    // copies an upstream node hands over for piled-up polls are published
    // once. The copies of one message arrive within a few polls of each other.
    static constexpr std::size_t _remembered_deliveries = 4096;

    ForwarderHandler(NodeSockets& sockets, KeptMessages& store, NodeRegistry& registry,
                     NodeStats& stats);

    void operator()(cplt::Socket* forwarder);

private:
    void handleMessage(const kelnom::Message& message);

    NodeSockets& sockets;
    KeptMessages& store;
    NodeRegistry& registry;
    NodeStats& stats;
    RecentIds delivered;  // ids of messages from upstream published here
};

}  // namespace kelnod
