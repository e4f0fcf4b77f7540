#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "KeptMessages.hpp"
#include "NodeRegistry.hpp"
#include "NodeSockets.hpp"
#include "NodeStats.hpp"
#include "ReliableChain.hpp"
#include "Settings.hpp"

namespace kelnod {

// Publishes the node's statistics document on the broadcaster once per
// interval, to the local subscribers of "kelno.stats"; it is neither kept
// nor passed up. Off (no interval), it never reads the clock. Timed with a
// monotonic clock, like the inbox poll.
class StatsPublisher {
public:
    using Clock = std::chrono::steady_clock;
    static const char* const _app_id;

    StatsPublisher(const Settings& settings, const NodeStats& stats, const KeptMessages& store,
                   const NodeRegistry& registry, NodeSockets& sockets,
                   const ReliableChain* chain);

    // Publishes the document when the interval has passed. Returns how long
    // the main loop may wait for input before the next one is due, `longest`
    // at most.
    std::chrono::milliseconds publishWhenDue(std::chrono::milliseconds longest);

private:
    void publish(Clock::time_point now);
    std::optional<std::int64_t> upstreamAnswerAge(Clock::time_point now);

    const std::string& node_name;
    Clock::duration interval;  // zero: off
    const NodeStats& stats;
    const KeptMessages& store;
    const NodeRegistry& registry;
    NodeSockets& sockets;
    const ReliableChain* chain;  // null unless reliable
    Clock::time_point started;
    Clock::time_point next_due;

    // Arrivals from upstream are only counted; the first document that sees
    // the count move dates the last one, to within an interval.
    std::uint64_t upstream_requests_seen = 0;
    std::optional<Clock::time_point> upstream_last_heard;
};

}  // namespace kelnod
