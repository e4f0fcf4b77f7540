#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "MessageStore.hpp"
#include "NodeStats.hpp"

namespace kelnod {

// What the statistics document says about the link to the upstream node.
struct UpstreamFigures {
    std::string remote;
    bool connected = false;
    // Seconds since anything last came down; nothing while nothing ever has.
    std::optional<std::int64_t> last_answer_age_seconds;
    // Passed up, not yet acknowledged from upstream; on a reliable node the
    // messages waiting in the outbox now.
    std::uint64_t unacknowledged = 0;
};

// The store file's figures, when there is one.
struct StoreFileFigures {
    std::string path;
    std::uint64_t commits = 0;          // that wrote something
    std::uint64_t commit_failures = 0;  // rolled back (full disk, I/O error)
    double commit_ms_p50 = 0;           // of the recent commits
    double commit_ms_max = 0;           // since start
};

// The figures that are read when the document is built, not counted.
struct NodeGauges {
    std::int64_t uptime_seconds = 0;
    std::uint64_t messages_stored = 0;
    std::uint64_t bytes_stored = 0;
    std::uint64_t peers = 0;
    StoreDrops store_drops;                      // counted by the store since start
    // Unacknowledged messages the outbox's bounds removed; only on a reliable node.
    std::optional<std::uint64_t> outbox_bound_drops;
    std::optional<UpstreamFigures> upstream;     // nothing without an upstream node
    std::optional<StoreFileFigures> store_file;  // nothing without kelno.store.path
};

// The statistics document: one JSON object. The member names are what
// operators' scripts read; the README lists each of them.
nlohmann::json stats_document(const std::string& node_name, const NodeStats& stats,
                              const NodeGauges& gauges);

}  // namespace kelnod
