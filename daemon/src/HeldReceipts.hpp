#pragma once

#include <string>
#include <utility>
#include <vector>

#include "NodeSockets.hpp"

namespace kelnod {

// Receipt acknowledgements held back until the wake-up's batch of store
// changes is committed: a sender must never hear that the node has a message
// that a crash could still take. Without a store file nothing is held and a
// receipt goes out at once, as it always has.
class HeldReceipts {
public:
    HeldReceipts(NodeSockets& sockets, bool holding) : sockets(sockets), holding(holding) {}

    // Sends the receipt of `message_id` to `route` on `port` now, or once
    // release() runs.
    void acknowledge(PeerPort& port, const std::string& route, const std::string& message_id);
    // The same for a message that came down from the upstream node.
    void acknowledgeUp(const std::string& message_id);
    // Sends what was held, in the order it came.
    void release();

private:
    NodeSockets& sockets;
    bool holding;
    struct Held {
        PeerPort* port;  // null: to the upstream node
        std::string route;
        std::string message_id;
    };
    std::vector<Held> held;

    void send(const Held& receipt);
};

}  // namespace kelnod
