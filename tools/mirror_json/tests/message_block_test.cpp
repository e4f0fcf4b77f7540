#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "MessageBlock.hpp"

namespace {

using Seconds = kelnom::Message::Seconds;

kelnom::Payload payload_of(const std::string& bytes, const std::string& type) {
    kelnom::Payload payload(static_cast<std::uint32_t>(bytes.size()), type);
    if (!bytes.empty()) std::memcpy(payload.getBuffer(), bytes.data(), bytes.size());
    return payload;
}

kelnom::Message message_of(const std::string& bytes, const std::string& type,
                           Seconds valid_for = Seconds(76)) {
    return kelnom::Message(
        payload_of(bytes, type),
        kelnom::Message::Config("tester", {}, valid_for, kelnom::Message::AckMode::NoAck));
}

std::string block_of(const kelnom::Message& message) {
    std::ostringstream out;
    print_message_block(out, message);
    return out.str();
}

TEST(MessageBlock, PrintsHeadersAndIndentedJsonWithSortedKeys) {
    const std::string text = R"({"b":1,"a":[true,null]})";
    kelnom::Message message = message_of(text, "JSON", Seconds(90061));
    EXPECT_EQ(block_of(message),
              "===== Received Message =====\n"
              "Message Id: " +
                  message.msgId() +
                  "\n"
                  "Application id: tester\n"
                  "Valid For:01d:01h:01m:01s (total seconds: 90061)\n"
                  "Payload length: 23\n"
                  "Payload type: JSON\n"
                  "Payload contents: \n"
                  "{\n"
                  "  \"a\": [\n"
                  "    true,\n"
                  "    null\n"
                  "  ],\n"
                  "  \"b\": 1\n"
                  "}\n"
                  "\n");
}

TEST(MessageBlock, ShowsUnknownDataForAnythingThatIsNotOneJsonValue) {
    const std::string deeply_nested = std::string(100000, '[') + std::string(100000, ']');
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty payload", ""},
        {"plain text", "hello"},
        {"text with its zero byte", std::string("hello", 6)},
        {"trailing text", R"({"a":1} and more)"},
        {"two values", "1 2"},
        {"cut short", R"({"a":)"},
        {"invalid UTF-8 in a string", "\"\xff\""},
        {"nested too deep to print safely", deeply_nested},
    };
    for (const auto& c : cases) {
        kelnom::Message message = message_of(c.bytes, "text", Seconds(0));
        const std::string block = block_of(message);
        EXPECT_NE(block.find("Valid For:00d:00h:00m:00s (total seconds: 0)\n"
                             "Payload length: " +
                             std::to_string(c.bytes.size()) +
                             "\n"
                             "Payload type: text\n"
                             "Payload contents: \n"
                             "<Unknown data>\n"
                             "\n"),
                  std::string::npos)
            << c.what << "\n"
            << block.substr(0, 400);
    }
}

TEST(MessageBlock, PrintsReasonablyNestedJsonAndScalarValues) {
    const std::string nested = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(parse_json_payload(payload_of(nested, "JSON")));
    EXPECT_EQ(parse_json_payload(payload_of(" 42 ", "JSON")), nlohmann::json(42));
    EXPECT_EQ(parse_json_payload(payload_of("\"kelno\"", "text")), nlohmann::json("kelno"));
}

}  // namespace
