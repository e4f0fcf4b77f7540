#pragma once

#include "MessageStore.hpp"
#include "NodeRegistry.hpp"
#include "NodeSockets.hpp"

namespace cplt {
class Socket;
}

namespace kelnod {

// Serves one request from the upstream node per call, on the forwarder socket
// it arrived on: acknowledgements of what we passed up, messages kept upstream
// for this node, and registry queries.
class ForwarderHandler {
public:
    ForwarderHandler(NodeSockets& sockets, MessageStore& store, NodeRegistry& registry);

    void operator()(cplt::Socket* forwarder);

private:
    NodeSockets& sockets;
    MessageStore& store;
    NodeRegistry& registry;
};

}  // namespace kelnod
