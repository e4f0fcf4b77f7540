#pragma once

#include <chrono>
#include <string>

#include "NodeSockets.hpp"

namespace kelnod {

// Asks the upstream node, once per interval, for the messages it keeps under
// this node's name. Timed with a monotonic clock: setting the wall clock back
// must not stop a node from fetching its messages. While the link is down no
// poll is sent: polls would only pile up in the queue and all be answered
// with the same message once the upstream node reads again.
class UpstreamInboxPoll {
public:
    using Clock = std::chrono::steady_clock;

    UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval, NodeSockets& sockets);

    // Sends the poll when the interval has passed and the link is up.
    void sendWhenDue();
    // The next sendWhenDue() polls at once (the link has just come up).
    void dueNow();

private:
    std::string node_name;
    Clock::duration interval;
    Clock::time_point last_poll;
    NodeSockets& sockets;
};

}  // namespace kelnod
