#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "PayloadPrinting.hpp"

namespace {

kelnom::Payload payload_of(const std::string& bytes, const std::string& type) {
    kelnom::Payload payload(static_cast<std::uint32_t>(bytes.size()), type);
    if (!bytes.empty()) std::memcpy(payload.getBuffer(), bytes.data(), bytes.size());
    return payload;
}

TEST(PayloadPrinting, TextUpToItsFirstZeroByteOrItsEnd) {
    const struct {
        const char* what;
        std::string bytes;
        std::string type;
        std::string printed;
    } cases[] = {
        {"as the prompt sends it", std::string("hello", 6), "text", "Payload reads: hello\n\n"},
        {"zero byte inside", std::string("ab\0cd", 5), "text", "Payload reads: ab\n\n"},
        {"no zero byte at all", "abc", "text", "Payload reads: abc\n\n"},
        {"empty", "", "text", "Payload reads: \n\n"},
        {"JSON", "{}", "JSON", "Payload is unreadable as it is not text.\n\n"},
        {"type is matched exactly", "abc", "Text", "Payload is unreadable as it is not text.\n\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        print_delivered_payload(out, payload_of(c.bytes, c.type));
        EXPECT_EQ(out.str(), c.printed) << c.what;
    }
}

TEST(PayloadPrinting, RegistryIsPrintedCompactWithSortedKeys) {
    std::ostringstream out;
    print_registry(out, kelnom::Registry(payload_of(R"({ "upper": 2, "lower" : {} })", "JSON")));
    EXPECT_EQ(out.str(), "Received registry: {\"lower\":{},\"upper\":2}\n");
}

TEST(PayloadPrinting, RegistryThatIsNotJsonRaises) {
    std::ostringstream out;
    EXPECT_THROW(print_registry(out, kelnom::Registry(payload_of("node1", "JSON"))),
                 nlohmann::json::parse_error);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
