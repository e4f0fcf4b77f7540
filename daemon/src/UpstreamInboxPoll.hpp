#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

#include "NodeSockets.hpp"

namespace kelnod {

// Asks the upstream node, once per interval, for the messages it keeps under
// this node's name. Timed with a monotonic clock: setting the wall clock back
// must not stop a node from fetching its messages. While the link is down no
// poll is sent: polls would only pile up in the queue and all be answered
// with the same message once the upstream node reads again.
//
// A reliable node (kelno.chain.reliable) also polls under the names that
// nodes below it poll it with, so that what is kept upstream for them comes
// down to it and waits here until they fetch it; and a poll that brought a
// message is repeated at once (after the message's acknowledgement has gone
// up), so a backlog drains at link speed. Polls of an empty inbox stay at
// the interval.
class UpstreamInboxPoll {
public:
    using Clock = std::chrono::steady_clock;

    // A name polled from below is polled for as long as nodes below go on
    // polling it, and up to this long after the last time.
    static constexpr std::chrono::hours _name_kept_for{1};
    // At most this many names polled from below; beyond, the one polled
    // least recently is forgotten.
    static constexpr std::size_t _most_names = 1024;

    UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval, NodeSockets& sockets,
                      bool reliable);

    // Sends each poll whose interval has passed, when the link is up.
    void sendWhenDue();
    // Every poll is due at once (the link has just come up).
    void dueNow();
    // A node below polled this node under `name` (reliable nodes only).
    void polledFromBelow(const std::string& name);
    // A message kept under `name` came down: poll for the next one at once
    // (reliable nodes only).
    void broughtMessage(const std::string& name);

private:
    struct Name {
        Clock::time_point next_poll;
        Clock::time_point last_polled_from_below;
    };

    void forgetStaleNames(Clock::time_point now);

    std::string node_name;
    Clock::duration interval;
    NodeSockets& sockets;
    bool reliable;
    std::map<std::string, Name, std::less<>> names;  // this node's own name among them
    // No poll is due before this, so most wake-ups look at no name.
    Clock::time_point earliest_poll = Clock::time_point::min();
};

}  // namespace kelnod
