#pragma once

#include <string>

#include <kelnom/Request.hpp>

namespace kelnom::internal_objects {

enum class InboxType : int {
    Client = 0,  // an application polls under its application id ("clnt")
    Node = 1,    // a downstream node polls under its node name ("node")
};

// Asks a node for one message stored under a name ("BOX").
class Inbox : public Request {
public:
    static const char* const _wire_name;

    Inbox(std::string app_id, InboxType type) : app_id(std::move(app_id)), box_type(type) {}
    // Decoding constructor.
    explicit Inbox(HeaderMap& headers);

    const char* wireName() const override { return _wire_name; }
    RequestKind kind() const override { return RequestKind::Inbox; }
    const std::string& appId() const { return app_id; }
    InboxType type() const { return box_type; }

    HeaderMap create_protocol_headers() const override;
    void handle_protocol_headers(HeaderMap& headers) override;

private:
    std::string app_id;
    InboxType box_type = InboxType::Client;
};

}  // namespace kelnom::internal_objects
