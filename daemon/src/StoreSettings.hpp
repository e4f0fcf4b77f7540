#pragma once

#include <string>

#include "MessageStore.hpp"

namespace kelnod {

// kelno.store.*: where the kept messages are written, and their bounds. All
// empty (the default): the memory store alone, unbounded.
struct StoreSettings {
    std::string path;    // kelno.store.path; empty: memory only
    StoreLimits limits;  // kelno.store.max_messages, .max_bytes, .expire
    // The file also holds the reliable chain's outbox, accepted ids and
    // unpublished messages (kelno.chain.reliable).
    bool chain_tables = false;
};

}  // namespace kelnod
