#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace kelno_chaos {

// One chaos run: the chain top ← mid ← {left, right} on loopback, every node
// reliable with a store file; clients on every node send routed messages to
// every other node and unrouted ones, while mid is killed and restarted, or
// stopped and continued, at random. At the end every acknowledged message must
// have reached a subscriber of its node (top for unrouted ones) exactly once,
// no message twice, and no store may keep a delivered message.
struct ChaosOptions {
    // Sending goes on for this long, and until every event has happened.
    std::chrono::seconds duration{180};
    int events = 12;
    // Messages per second, all senders together.
    int rate = 100;
    // After sending stops: how long the acknowledged messages may take to
    // arrive, and the stores and outboxes to empty, each.
    std::chrono::seconds settle_wait{90};
    // 0: taken from the clock. The run prints it, so a failure can be replayed.
    std::uint64_t seed = 0;
};

// Progress and the summary go to `out`; true when every check held.
bool run_chaos(const ChaosOptions& options, std::ostream& out);

}  // namespace kelno_chaos
