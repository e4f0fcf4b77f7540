#pragma once

#include "HeldPublications.hpp"
#include "HeldReceipts.hpp"
#include "KeptMessages.hpp"
#include "NodeRegistry.hpp"
#include "NodeSockets.hpp"
#include "NodeStats.hpp"
#include "ReliableChain.hpp"
#include "Settings.hpp"
#include "UpstreamInboxPoll.hpp"

namespace kelnod {

// The parts of a running node that its handlers share, all owned by the
// daemon's main and living as long as the serving loop.
struct NodeParts {
    const Settings& settings;
    NodeSockets& sockets;
    KeptMessages& store;
    NodeRegistry& registry;
    HeldReceipts& receipts;
    HeldPublications& publications;
    UpstreamInboxPoll& upstream_poll;
    NodeStats& stats;
    ReliableChain* chain;  // null unless kelno.chain.reliable
};

}  // namespace kelnod
