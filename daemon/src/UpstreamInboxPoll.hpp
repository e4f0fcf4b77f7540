#pragma once

#include <chrono>
#include <string>

#include "NodeSockets.hpp"

namespace kelnod {

// Asks the upstream node, once per interval, for the messages it keeps under
// this node's name. Timed with a monotonic clock: setting the wall clock back
// must not stop a node from fetching its messages.
class UpstreamInboxPoll {
public:
    using Clock = std::chrono::steady_clock;

    UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval, NodeSockets& sockets);

    // Sends the poll through every forwarder when the interval has passed
    // (the first call always sends).
    void sendWhenDue();

private:
    void sendPoll();

    std::string node_name;
    Clock::duration interval;
    Clock::time_point last_poll;
    NodeSockets& sockets;
};

}  // namespace kelnod
