#pragma once

#include <kelnom/Payload.hpp>
#include <kelnom/Request.hpp>

namespace kelnom::internal_objects {

// A request whose last frame is a payload; announces it with "p_size"/"p_type".
class PayloadRequest : public Request {
public:
    static const char* const _payload_sz_hdr_key;    // "p_size"
    static const char* const _payload_type_hdr_key;  // "p_type"

    explicit PayloadRequest(Payload payload) : request_payload(std::move(payload)) {}

    Payload& payload() { return request_payload; }
    const Payload& payload() const { return request_payload; }

    HeaderMap create_protocol_headers() const override;
    void handle_protocol_headers(HeaderMap& headers) override;

private:
    Payload request_payload;
};

}  // namespace kelnom::internal_objects
