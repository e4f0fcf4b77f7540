#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <limits>
#include <sstream>

#include "HumanDuration.hpp"

namespace {

using Seconds = std::chrono::duration<std::int64_t>;

std::string printed(std::int64_t seconds) {
    std::ostringstream out;
    print_human_duration(out, Seconds(seconds));
    return out.str();
}

TEST(HumanDuration, SplitsSecondsIntoZeroPaddedFields) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "00d:00h:00m:00s (total seconds: 0)"},
        {20, "00d:00h:00m:20s (total seconds: 20)"},
        {76, "00d:00h:01m:16s (total seconds: 76)"},
        {86399, "00d:23h:59m:59s (total seconds: 86399)"},
        {90061, "01d:01h:01m:01s (total seconds: 90061)"},
        {8640000, "100d:00h:00m:00s (total seconds: 8640000)"},  // width is a minimum
        {-90061, "-1d:-1h:-1m:-1s (total seconds: -90061)"},     // truncation toward zero
        {std::numeric_limits<std::int64_t>::min(),
         "-106751991167300d:-15h:-30m:-8s (total seconds: -9223372036854775808)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printed(c.seconds), c.text) << c.seconds;
    }
}

TEST(HumanDuration, LeavesTheStreamAsItFoundIt) {
    std::ostringstream out;
    out.fill('*');
    print_human_duration(out, Seconds(5)) << '|';
    out << std::setw(3) << 7;
    EXPECT_EQ(out.fill(), '*');
    EXPECT_EQ(out.str(), "00d:00h:00m:05s (total seconds: 5)|**7");
}

}  // namespace
