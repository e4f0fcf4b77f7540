#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ChainSettings.hpp"
#include "SecuritySettings.hpp"
#include "StoreSettings.hpp"

namespace kelnou {
class Properties;
}

namespace kelnod {

inline constexpr const char* default_config_path = "/etc/kelnod.conf";

// Messages ZeroMQ may hold for one peer that has not taken them yet. Beyond
// that, sends to the peer are dropped and reported instead of waiting for it.
struct SendQueueLimits {
    // Per local client or downstream node: mostly acknowledgements, so it must
    // hold the acknowledgements of a sender's whole window of unanswered
    // messages, even while ZeroMQ's count of what left lags behind by half.
    int channeler = 10000;
    int forwarder = 1000;    // for the upstream node
    int broadcaster = 1000;  // per subscriber
};

// The daemon's settings, final values (scripts already run).
struct Settings {
    std::string node_name;
    int channeler_port = 5555;
    int broadcaster_port = 5556;
    std::vector<std::string> forwarder_remotes;  // zero or one upstream endpoint
    int inbox_interval = 2;                      // seconds between upstream inbox polls
    SendQueueLimits send_queues;
    // Largest message a peer may send on the channeler or down the forwarder,
    // in bytes; a peer that sends more is disconnected. 0: no limit.
    std::int64_t max_message_size = 0;
    StoreSettings store;  // kelno.store.*
    // Interfaces the channeler and the broadcaster bind: "*" for every one.
    std::string channeler_bind = "*";
    std::string broadcaster_bind = "*";
    SecuritySettings security;
    // Seconds between two statistics documents on the broadcaster. 0: none.
    int stats_interval = 0;
    ChainSettings chain;  // kelno.chain.*
};

void print_usage();

// A whole decimal number from `minimum` up, or nothing: a setting that the
// node cannot read exactly is refused rather than taken as 0.
std::optional<std::int64_t> parse_whole_number(const char* text, std::int64_t minimum);

// Reads `key` as "true" or "false" (false when absent) into `flag`; false,
// after reporting why, for any other value.
bool read_flag(const kelnou::Properties& properties, const char* key, bool& flag);

// The first output line of a shell command, without its line break.
// kelnou::GeneralException "Failed to read script output" when the command
// cannot be started or prints nothing.
std::string run_script(std::string command);

// Reads the properties file. Nothing (after printing why) when the file cannot
// be loaded, names no node, sets a send queue below one message or has a
// kelno.store.* value that is not one; a failing ".sh" setting throws.
std::optional<Settings> read_settings(const std::string& path);

// The start-up lines on standard output.
void print_startup(const Settings& settings);

}  // namespace kelnod
