#pragma once

#include <cstdint>

namespace kelnod {

// Sends and messages the node gave up, by reason. A full queue drops one send
// to one peer of that kind; the broadcaster cannot say which subscriber is
// full, so a publication that missed one or more of them counts once. What
// the store lets go (bounds, expiry) the store counts itself.
struct DropCounts {
    std::uint64_t channeler_queue_full = 0;   // to a local client or downstream node
    std::uint64_t upstream_queue_full = 0;    // to the upstream node
    std::uint64_t subscriber_queue_full = 0;  // a publication a local subscriber missed
    std::uint64_t duplicate = 0;  // another copy of a message that came down, not published
};

// The node's counters since start, owned by the daemon's main and lent to
// the handlers and the sockets. Plain integers on the node's only thread:
// counting costs the hot path an increment, and the statistics document is
// built from them only at its interval.
struct NodeStats {
    std::uint64_t messages_received = 0;          // on the channeler
    std::uint64_t messages_from_upstream = 0;     // every copy that came down
    std::uint64_t messages_forwarded = 0;         // passed up (taken by the forwarder's queue)
    std::uint64_t messages_published = 0;         // to local subscribers
    std::uint64_t acknowledgements_received = 0;  // on the channeler
    std::uint64_t inbox_polls_received = 0;
    std::uint64_t inbox_polls_answered = 0;       // a kept message was handed over
    std::uint64_t upstream_requests = 0;          // anything that arrived from the upstream node
    std::uint64_t upstream_acknowledgements = 0;  // of what we passed up
    DropCounts drops;
};

}  // namespace kelnod
