#include "Payloader.hpp"

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace {

constexpr std::int64_t seconds_of_9125_days = 788400000;
constexpr std::int64_t seconds_per_hour = 3600;

}  // namespace

std::string ctime_text(std::int64_t seconds) {
    // time_t is 32 bits on Debian 12 armhf: a second past 2038-01-19 03:14:07
    // UTC (or before 1901-12-13 20:45:52) would wrap into another date.
    const auto time = static_cast<std::time_t>(seconds);
    if (time != seconds) return kBeyondTimeT;
    char text[64];  // ctime_r needs 26 bytes for 4-digit years; room for more
    if (ctime_r(&time, text) == nullptr) return std::string();
    return text;
}

kelnom::Payload Payloader::create_payload() {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    nlohmann::json document;
    document["date_time"] = ctime_text(now);
    ++count;
    document["count"] = count;
    // Whole seconds: in nanoseconds, count hours would overflow 64 bits after
    // about 2.5 million documents.
    const std::int64_t travelled = now - seconds_of_9125_days - count * seconds_per_hour;
    document["complex_obj"] = {{"time_travel", ctime_text(travelled)},
                               {"neg_count", -static_cast<std::int64_t>(count)}};

    const std::string text = document.dump();
    std::unique_ptr<char[]> bytes(new char[text.size()]);
    std::memcpy(bytes.get(), text.data(), text.size());
    // The payload frees the bytes with array delete when it is destroyed.
    kelnom::Payload payload(bytes.get(), static_cast<std::uint32_t>(text.size()), "JSON");
    bytes.release();
    return payload;
}
