#include <kelnou/Uuid.hpp>

#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Uuid, LowerCaseCanonicalTextAndFreshEachTime) {
    const std::regex canonical("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = kelnou::generate_str_uuid();
        EXPECT_TRUE(std::regex_match(id, canonical)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
