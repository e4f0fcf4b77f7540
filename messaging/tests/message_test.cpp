#include <kelnom/Message.hpp>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <kelnom/Exception.hpp>

namespace {

using kelnom::HeaderMap;
using kelnom::Message;
using kelnom::Payload;
using kelnom::ProtocolError;

Payload text_payload(const std::string& text) {
    Payload payload(static_cast<std::uint32_t>(text.size()), "text");
    std::memcpy(payload.getBuffer(), text.data(), text.size());
    return payload;
}

Message make_message() {
    return Message(
        text_payload("hi"),
        Message::Config("app", {"node1", "node2"}, Message::Seconds(30), Message::AckMode::Ack));
}

// The headers a peer sends for a valid message, to be spoiled by each test.
HeaderMap valid_headers() {
    return {{"ack_mode", "1"},
            {"app_id", "app"},
            {"id", "the-id"},
            {"origin", ","},
            {"valid_for", "30"}};
}

Message decode(HeaderMap headers) { return Message(text_payload("hi"), {"route"}, headers); }

// The full message of the ProtocolError that `action` raises, context included.
template <typename Action>
std::string protocol_error_of(Action action) {
    try {
        action();
    } catch (const ProtocolError& e) {
        return e.generateMessage();
    }
    return "<no ProtocolError>";
}

const std::string decode_context = "While trying to decode protocol headers for Message. ";

TEST(MessageHeaders, SevenHeadersInMapOrder) {
    Message message = make_message();
    message.appendOriginNode("a");
    message.appendOriginNode("b");
    const HeaderMap expected = {
        {"ack_mode", "1"}, {"app_id", "app"},  {"id", message.msgId()}, {"origin", "a,b,"},
        {"p_size", "2"},   {"p_type", "text"}, {"valid_for", "30"},
    };
    EXPECT_EQ(message.create_protocol_headers(), expected);
    EXPECT_STREQ(message.wireName(), "MSG");
}

TEST(MessageHeaders, NegativeValidityAndAnyAckModeAreEncodedSigned) {
    const Message message(Payload(0, "t"), Message::Config("app", {}, Message::Seconds(-5),
                                                           static_cast<Message::AckMode>(-3)));
    const HeaderMap headers = message.create_protocol_headers();
    EXPECT_EQ(headers.at("valid_for"), "-5");
    EXPECT_EQ(headers.at("ack_mode"), "-3");
    EXPECT_EQ(headers.at("p_size"), "0");
    EXPECT_EQ(headers.at("origin"), ",");
}

TEST(MessageHeaders, RoundTripKeepsEveryField) {
    Message sent = make_message();
    sent.appendOriginNode("n1");
    HeaderMap headers = sent.create_protocol_headers();
    headers.erase("p_size");  // the receiver takes the payload headers itself
    headers.erase("p_type");

    const Message received(Payload(sent.payload()), sent.pushRoutes(), headers);
    EXPECT_TRUE(headers.empty());
    EXPECT_EQ(received.msgId(), sent.msgId());
    EXPECT_EQ(received.appId(), "app");
    EXPECT_EQ(received.validFor(), Message::Seconds(30));
    EXPECT_EQ(received.pushRoutes(), (std::vector<std::string>{"node1", "node2"}));
    EXPECT_EQ(received.create_protocol_headers(), sent.create_protocol_headers());
}

TEST(MessageHeaders, OriginListText) {
    struct EncodeCase {
        std::vector<std::string> nodes;
        std::string text;
    };
    const EncodeCase encode_cases[] = {
        {{}, ","},          {{"a", "b"}, "a,b,"},
        {{""}, ","},                            // a lone empty name cannot be told from none
        {{"", "b"}, ",b,"}, {{"a,b"}, "a,b,"},  // a comma in a name is not escaped
    };
    for (const auto& c : encode_cases) {
        Message message = make_message();
        for (const auto& node : c.nodes) {
            message.appendOriginNode(node);
        }
        EXPECT_EQ(message.create_protocol_headers().at("origin"), c.text);
    }

    // Decoded names show by appending "z" and encoding again (there is no
    // accessor), which also tells an empty name from no name.
    struct DecodeCase {
        std::string text;
        std::string with_z;
    };
    const DecodeCase decode_cases[] = {
        {",", "z,"},    {"", "z,"},      {"x", "z,"},      {"a,b,", "a,b,z,"}, {",b,", ",b,z,"},
        {",,", ",,z,"}, {"a,b", "a,z,"}, {"ab,", "ab,z,"}, {"a,", "a,z,"},
    };
    for (const auto& c : decode_cases) {
        HeaderMap headers = valid_headers();
        headers["origin"] = c.text;
        Message message = decode(headers);
        message.appendOriginNode("z");
        EXPECT_EQ(message.create_protocol_headers().at("origin"), c.with_z) << c.text;
    }
}

TEST(MessageHeaders, NumberConversions) {
    struct Case {
        std::string valid_for;
        std::string ack_mode;
        long long seconds;
        std::string ack_mode_out;
    };
    const Case cases[] = {
        {"12abc", "7", 12, "7"},
        {"-5", "0", -5, "0"},
        {" +9", " -2x", 9, "-2"},
        {"9223372036854775807", "2147483647", 9223372036854775807LL, "2147483647"},
    };
    for (const auto& c : cases) {
        HeaderMap headers = valid_headers();
        headers["valid_for"] = c.valid_for;
        headers["ack_mode"] = c.ack_mode;
        const Message message = decode(headers);
        EXPECT_EQ(message.validFor().count(), c.seconds) << c.valid_for;
        EXPECT_EQ(message.create_protocol_headers().at("ack_mode"), c.ack_mode_out);
    }
}

TEST(MessageHeaders, ValidForErrorsAreTheStandardOnesWithoutContext) {
    for (const std::string bad : {"abc", ""}) {
        HeaderMap headers = valid_headers();
        headers["valid_for"] = bad;
        try {
            decode(headers);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "stoll");
        }
    }
    HeaderMap headers = valid_headers();
    headers["valid_for"] = "9223372036854775808";
    try {
        decode(headers);
        ADD_FAILURE() << "no error for an out-of-range validity";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "stoll");
    }
}

TEST(MessageHeaders, AckModeErrorsAreProtocolErrors) {
    for (const std::string bad : {"x", "", "2147483648"}) {
        HeaderMap headers = valid_headers();
        headers["ack_mode"] = bad;
        EXPECT_EQ(protocol_error_of([&] { decode(headers); }),
                  decode_context + "Ack mode is incorrect for Message. Logic error: stoi")
            << bad;
    }
}

TEST(MessageHeaders, MissingHeadersAreNamedInReadingOrder) {
    struct Case {
        std::vector<std::string> removed;
        std::string named;
    };
    const Case cases[] = {
        {{"id", "app_id"}, "id"},   {{"app_id", "origin"}, "app_id"}, {{"valid_for"}, "valid_for"},
        {{"ack_mode"}, "ack_mode"}, {{"origin"}, "origin"},
    };
    for (const auto& c : cases) {
        HeaderMap headers = valid_headers();
        for (const auto& key : c.removed) {
            headers.erase(key);
        }
        EXPECT_EQ(protocol_error_of([&] { decode(headers); }),
                  decode_context + "Expected \"" + c.named + "\" header.");
    }
}

TEST(MessageHeaders, LeftoverHeadersAreListedAndCleared) {
    HeaderMap headers = valid_headers();
    headers["b"] = "2";
    headers["a"] = "1";
    EXPECT_EQ(protocol_error_of([&] { Message message(Payload(0, "t"), {}, headers); }),
              decode_context +
                  "Did not expect more headers for request \"MSG\". Unexpected headers are: "
                  "(a|1)(b|2)");
    EXPECT_TRUE(headers.empty());
}

TEST(MoveFromHeaders, TakesThePresentValueAndLeavesTheMapAloneOtherwise) {
    HeaderMap headers = {{"a", "1"}, {"b", ""}};
    EXPECT_EQ(Message::move_from_headers(headers, "b"), "");
    EXPECT_EQ(headers, (HeaderMap{{"a", "1"}}));
    EXPECT_EQ(protocol_error_of([&] { Message::move_from_headers(headers, "c"); }),
              "Expected \"c\" header.");
    EXPECT_EQ(headers, (HeaderMap{{"a", "1"}}));
}

TEST(MessageIdentity, CopyIsANewMessageAndMoveKeepsIt) {
    Message original = make_message();
    original.appendOriginNode("n1");
    const std::string id = original.msgId();
    EXPECT_EQ(id.size(), 36u);

    const Message copy(original);
    EXPECT_NE(copy.msgId(), id);
    EXPECT_EQ(copy.create_protocol_headers().at("origin"), ",");
    EXPECT_EQ(copy.appId(), "app");
    EXPECT_EQ(copy.pushRoutes(), original.pushRoutes());
    EXPECT_EQ(copy.validFor(), original.validFor());
    EXPECT_EQ(copy.create_protocol_headers().at("ack_mode"), "1");
    EXPECT_NE(copy.payload().getBuffer(), original.payload().getBuffer());
    EXPECT_EQ(std::string(copy.payload().getBuffer(), copy.payload().size()), "hi");

    Message moved(std::move(original));
    EXPECT_EQ(moved.msgId(), id);
    EXPECT_EQ(moved.create_protocol_headers().at("origin"), "n1,");

    Message assigned = make_message();
    assigned = std::move(moved);
    EXPECT_EQ(assigned.msgId(), id);
    EXPECT_EQ(assigned.create_protocol_headers().at("origin"), "n1,");
}

TEST(MessageIdentity, NewIdAndAck) {
    Message message = make_message();
    const std::string id = message.msgId();
    EXPECT_EQ(message.generate_ack().messageId(), id);
    message.generate_new_id();
    EXPECT_NE(message.msgId(), id);
    EXPECT_EQ(message.generate_ack().messageId(), message.msgId());
}

}  // namespace
