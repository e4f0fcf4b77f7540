#pragma once

#include <cstdint>
#include <string>

namespace kelnou {
class Properties;
}

namespace kelnod {

// kelno.chain.*: a chain that resends what it passes up until the upstream
// node has it, drops copies, drains what comes down at link speed and
// delivers at any depth. Off unless kelno.chain.reliable=true; meant to be
// set on every node of a chain.
struct ChainSettings {
    bool reliable = false;
    int resend_after = 5;                  // kelno.chain.resend_after, seconds
    std::uint64_t dedup_window = 100000;   // kelno.chain.dedup_window, ids
};

// Reads kelno.chain.*; false (after reporting why) for a value that is not one.
bool read_chain_settings(const kelnou::Properties& properties, ChainSettings& chain);

// "Chain: reliable, ..." when reliable; empty otherwise.
std::string chain_startup_line(const ChainSettings& chain);

}  // namespace kelnod
