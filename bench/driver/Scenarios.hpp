#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Nodes.hpp"
#include "Table.hpp"

namespace kelno_bench {

struct Settings {
    std::uint64_t window = 1000;  // unacknowledged messages a sender keeps going
    std::vector<std::size_t> payload_sizes{64, 1024, 64 * 1024};
    std::chrono::milliseconds warmup{1000};
    std::chrono::milliseconds duration{3000};  // measured, per size
    int latency_messages = 2000;
    std::size_t latency_payload = 64;
    std::vector<std::uint64_t> store_levels{0, 10000, 100000};
    std::chrono::seconds idle_time{10};
    // S6: the backlog drained with kelno.chain.reliable, and how long it may
    // take; the plain chain drains its smaller one at one per inbox interval.
    std::uint64_t drain_backlog = 10000;
    std::chrono::seconds drain_bound{60};
    std::uint64_t plain_drain_backlog = 20;
    std::chrono::seconds plain_drain_bound{25};
};

// The files whose sizes S5 reports, and the programs to start.
struct Shipped {
    std::vector<std::string> binaries;  // kelnod first
    std::vector<std::string> libraries;
};

// S1 (live path) and S2 (latency on an idle bus), each system on its own node.
std::vector<Row> live_path_and_latency(const Programs& programs, const Settings& settings);
// S1 on a node with statistics every second beside one without (Kelno only).
std::vector<Row> live_path_statistics(const Programs& programs, const Settings& settings);
// S3: acknowledgement throughput beside a full store; memory per stored message.
std::vector<Row> store_scaling(const Programs& programs, const Settings& settings);
// S4: the live path through three chained nodes.
std::vector<Row> chain(const Programs& programs, const Settings& settings);
// S6: a backlog kept on an upper node for the node below drains to it once
// the node below starts; with kelno.chain.reliable, in memory and with store
// files, beside the plain chain (Kelno only).
std::vector<Row> downlink_drain(const Programs& programs, const Settings& settings);
// S5: idle memory and CPU time, and the size of what is shipped; with `armhf`,
// also the sizes of a 32-bit ARM build of the same files.
std::vector<Row> footprint(const Programs& programs, const Settings& settings,
                           const Shipped& shipped,
                           const std::optional<Shipped>& armhf = std::nullopt);

}  // namespace kelno_bench
