#pragma once

#include <kelnom/Request.hpp>

namespace kelnom::internal_objects {

// Asks a node for its registry of known nodes ("GREG"). Has no headers.
class GetRegistry : public Request {
public:
    static const char* const _wire_name;

    GetRegistry() = default;
    // Decoding constructor: any header at all is rejected.
    explicit GetRegistry(HeaderMap headers);

    const char* wireName() const override { return _wire_name; }
    RequestKind kind() const override { return RequestKind::GetRegistry; }
    HeaderMap create_protocol_headers() const override { return {}; }
    void handle_protocol_headers(HeaderMap& headers) override;
};

}  // namespace kelnom::internal_objects
