#include "ChainSettings.hpp"

#include <string>

#include <kelnou/Properties.hpp>

#include "Console.hpp"
#include "Settings.hpp"

namespace kelnod {

namespace {

// A day: a longer wait would leave a lost message unsent for nothing.
constexpr std::int64_t kLongestResendAfter = 86400;
// Ten million ids take about a gigabyte of memory: far beyond any device.
constexpr std::int64_t kLargestDedupWindow = 10000000;

bool read_number(const kelnou::Properties& properties, const char* key, const char* unit,
                 std::int64_t maximum, std::int64_t& value) {
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    const auto number = parse_whole_number(text, 1);
    if (!number || *number > maximum) {
        report(std::string(key) + " must be a whole number of " + unit + " from 1 to " +
               std::to_string(maximum) + " (read \"" + text + "\")");
        return false;
    }
    value = *number;
    return true;
}

}  // namespace

bool read_chain_settings(const kelnou::Properties& properties, ChainSettings& chain) {
    if (!read_flag(properties, "kelno.chain.reliable", chain.reliable)) return false;
    std::int64_t resend_after = chain.resend_after;
    std::int64_t window = static_cast<std::int64_t>(chain.dedup_window);
    if (!read_number(properties, "kelno.chain.resend_after", "seconds", kLongestResendAfter,
                     resend_after) ||
        !read_number(properties, "kelno.chain.dedup_window", "message ids", kLargestDedupWindow,
                     window)) {
        return false;
    }
    chain.resend_after = static_cast<int>(resend_after);
    chain.dedup_window = static_cast<std::uint64_t>(window);
    return true;
}

std::string chain_startup_line(const ChainSettings& chain) {
    if (!chain.reliable) return "";
    return "Chain: reliable, unacknowledged messages passed up again after " +
           std::to_string(chain.resend_after) + " seconds, copies dropped within the last " +
           std::to_string(chain.dedup_window) + " message ids";
}

}  // namespace kelnod
