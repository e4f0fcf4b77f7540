#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <kelnom/Ack.hpp>
#include <kelnom/Exception.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Registry.hpp>

namespace {

using kelnom::HeaderMap;
using kelnom::Payload;
using kelnom::ProtocolError;
using kelnom::Registry;
using kelnom::internal_objects::Ack;
using kelnom::internal_objects::GetRegistry;
using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;
using kelnom::internal_objects::Request;

TEST(ControlRequests, WireNamesAndHeaders) {
    struct Case {
        std::function<std::unique_ptr<Request>()> build;
        std::string wire_name;
        HeaderMap headers;
    };
    const Case cases[] = {
        {[] { return std::make_unique<Inbox>("app", InboxType::Client); },
         "BOX",
         {{"app_id", "app"}, {"box_type", "clnt"}}},
        {[] { return std::make_unique<Inbox>("n1", InboxType::Node); },
         "BOX",
         {{"app_id", "n1"}, {"box_type", "node"}}},
        {[] { return std::make_unique<Inbox>("n1", static_cast<InboxType>(5)); },
         "BOX",
         {{"app_id", "n1"}, {"box_type", "node"}}},
        {[] { return std::make_unique<Ack>("the-id"); }, "ACK", {{"msg_id", "the-id"}}},
        {[] { return std::make_unique<GetRegistry>(); }, "GREG", {}},
        {[] { return std::make_unique<Registry>(Payload(3, "JSON")); },
         "REG",
         {{"p_size", "3"}, {"p_type", "JSON"}}},
    };
    for (const auto& c : cases) {
        const auto request = c.build();
        EXPECT_EQ(request->wireName(), c.wire_name);
        EXPECT_EQ(request->create_protocol_headers(), c.headers) << c.wire_name;
    }
}

TEST(ControlRequests, DecodeValidHeaders) {
    HeaderMap client_poll = {{"app_id", "app"}, {"box_type", "clnt"}};
    const Inbox client(client_poll);
    EXPECT_EQ(client.appId(), "app");
    EXPECT_EQ(client.type(), InboxType::Client);
    EXPECT_TRUE(client_poll.empty());

    HeaderMap node_poll = Inbox("n1", static_cast<InboxType>(5)).create_protocol_headers();
    const Inbox node(node_poll);
    EXPECT_EQ(node.appId(), "n1");
    EXPECT_EQ(node.type(), InboxType::Node);

    HeaderMap empty_id = {{"msg_id", ""}};
    EXPECT_EQ(Ack(empty_id).messageId(), "");

    HeaderMap none;
    EXPECT_NO_THROW(Registry(Payload(0, "JSON"), none));
    EXPECT_NO_THROW(GetRegistry(HeaderMap{}));
}

TEST(ControlRequests, DecodeErrorsCarryTheClassContext) {
    struct Case {
        const char* what;
        std::function<void(HeaderMap&)> decode;
        HeaderMap headers;
        std::string message;  // generateMessage(): context line first
    };
    const std::string inbox = "While trying to decode headers for Inbox. ";
    const std::string ack = "While trying to decode headers for Ack. ";
    const Case cases[] = {
        {"inbox without app id",
         [](HeaderMap& h) { Inbox{h}; },
         {{"box_type", "clnt"}},
         inbox + "Expected \"app_id\" header."},
        {"inbox without type",
         [](HeaderMap& h) { Inbox{h}; },
         {{"app_id", "a"}},
         inbox + "Expected \"box_type\" header."},
        {"upper-case type",
         [](HeaderMap& h) { Inbox{h}; },
         {{"app_id", "a"}, {"box_type", "CLNT"}},
         inbox + "Unknown inbox type specified in headers... CLNT"},
        {"type with a blank",
         [](HeaderMap& h) { Inbox{h}; },
         {{"app_id", "a"}, {"box_type", "clnt "}},
         inbox + "Unknown inbox type specified in headers... clnt "},
        {"inbox leftover",
         [](HeaderMap& h) { Inbox{h}; },
         {{"app_id", "a"}, {"box_type", "node"}, {"x", "1"}},
         inbox + "Did not expect more headers for request \"BOX\". Unexpected headers are: (x|1)"},
        {"ack without id",
         [](HeaderMap& h) { Ack{h}; },
         {{"id", "1"}},
         ack + "Expected \"msg_id\" header."},
        {"ack leftover",
         [](HeaderMap& h) { Ack{h}; },
         {{"msg_id", "1"}, {"p_size", ""}},
         ack + "Did not expect more headers for request \"ACK\". Unexpected headers are: "
               "(p_size|)"},
        {"registry leftover",
         [](HeaderMap& h) { Registry(Payload(0, "JSON"), h); },
         {{"extra", "v"}},
         "While trying to decode headers for Registry request. Did not expect more headers "
         "for request \"REG\". Unexpected headers are: (extra|v)"},
        {"registry query with a header",
         [](HeaderMap& h) { GetRegistry{h}; },
         {{"a", "1"}},
         "While trying to decode headers for GetRegistry request. Did not expect more headers "
         "for request \"GREG\". Unexpected headers are: (a|1)"},
    };
    for (const auto& c : cases) {
        HeaderMap headers = c.headers;
        try {
            c.decode(headers);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ProtocolError& e) {
            EXPECT_EQ(e.generateMessage(), c.message) << c.what;
            EXPECT_EQ(e.contextTrace().size(), 1u) << c.what;
        }
    }
}

}  // namespace
