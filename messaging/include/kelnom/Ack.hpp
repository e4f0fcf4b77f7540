#pragma once

#include <string>

#include <kelnom/Request.hpp>

namespace kelnom::internal_objects {

// Confirms the receipt of the message with the given id ("ACK").
class Ack : public Request {
public:
    static const char* const _wire_name;

    explicit Ack(std::string message_id) : message_id(std::move(message_id)) {}
    // Decoding constructor.
    explicit Ack(HeaderMap& headers);

    const char* wireName() const override { return _wire_name; }
    RequestKind kind() const override { return RequestKind::Ack; }
    const std::string& messageId() const { return message_id; }

    HeaderMap create_protocol_headers() const override;
    void handle_protocol_headers(HeaderMap& headers) override;

private:
    std::string message_id;
};

}  // namespace kelnom::internal_objects
