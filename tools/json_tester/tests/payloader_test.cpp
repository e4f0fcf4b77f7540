#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "Payloader.hpp"

namespace {

// Seconds since the epoch of a ctime() text; the test runs in UTC.
std::time_t parse_ctime(const std::string& text) {
    std::tm fields{};
    const char* end = strptime(text.c_str(), "%a %b %d %H:%M:%S %Y\n", &fields);
    EXPECT_TRUE(end != nullptr && *end == '\0') << text;
    return timegm(&fields);
}

class PayloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

TEST_F(PayloaderTest, NthDocumentCarriesCountAndTravelsBackNHours) {
    Payloader payloader;
    for (int n = 1; n <= 3; ++n) {
        const std::time_t before = std::time(nullptr);
        kelnom::Payload payload = payloader.create_payload();
        const std::time_t after = std::time(nullptr);

        EXPECT_EQ(payload.type(), "JSON");
        const std::string text(payload.getBuffer(), payload.size());
        EXPECT_EQ(text.find('\0'), std::string::npos) << "no terminating zero byte";
        EXPECT_EQ(
            text.rfind(
                "{\"complex_obj\":{\"neg_count\":" + std::to_string(-n) + ",\"time_travel\":\"", 0),
            0u)
            << text;
        EXPECT_NE(text.find("\\n\"},\"count\":" + std::to_string(n) + ",\"date_time\":\""),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.back(), '}');

        const nlohmann::json document = nlohmann::json::parse(text);
        EXPECT_EQ(document.size(), 3u);
        EXPECT_EQ(document["count"], n);
        EXPECT_EQ(document["complex_obj"].size(), 2u);
        EXPECT_EQ(document["complex_obj"]["neg_count"], -n);
        const std::time_t made = parse_ctime(document["date_time"]);
        EXPECT_GE(made, before);
        EXPECT_LE(made, after);
        const std::time_t travelled = parse_ctime(document["complex_obj"]["time_travel"]);
        EXPECT_EQ(made - travelled, 9125 * 86400 + n * 3600);
    }
}

// The 32-bit time_t edges (Debian 12 armhf): the last second it holds prints,
// the next one is named as out of range instead of wrapping to 1901; where
// time_t has 64 bits both print.
TEST_F(PayloaderTest, DatesAtTheEdgesOfA32BitTimeT) {
    constexpr std::int64_t last = 2147483647;  // 2^31 - 1
    constexpr std::int64_t first = -2147483647 - 1;
    EXPECT_EQ(ctime_text(0), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(ctime_text(last), "Tue Jan 19 03:14:07 2038\n");
    EXPECT_EQ(ctime_text(first), "Fri Dec 13 20:45:52 1901\n");
    if (sizeof(std::time_t) == 4) {
        EXPECT_EQ(ctime_text(last + 1), kBeyondTimeT);
        EXPECT_EQ(ctime_text(first - 1), kBeyondTimeT);
        EXPECT_EQ(ctime_text(std::int64_t{1} << 32), kBeyondTimeT);  // would wrap to 1970
    } else {
        EXPECT_EQ(ctime_text(last + 1), "Tue Jan 19 03:14:08 2038\n");
        EXPECT_EQ(ctime_text(first - 1), "Fri Dec 13 20:45:51 1901\n");
        EXPECT_EQ(ctime_text(std::int64_t{1} << 32), "Sun Feb  7 06:28:16 2106\n");
    }
}

}  // namespace
