#pragma once

#include <kelnom/PayloadRequest.hpp>

namespace kelnom {

// A node's registry reply ("REG"): the registry document as the payload.
class Registry : public internal_objects::PayloadRequest {
public:
    static const char* const _wire_name;

    explicit Registry(Payload payload) : PayloadRequest(std::move(payload)) {}
    // Decoding constructor; "p_size" and "p_type" are already taken out.
    Registry(Payload payload, HeaderMap& headers);

    const char* wireName() const override { return _wire_name; }
    RequestKind kind() const override { return RequestKind::Registry; }
    HeaderMap create_protocol_headers() const override;
    void handle_protocol_headers(HeaderMap& headers) override;
};

}  // namespace kelnom
