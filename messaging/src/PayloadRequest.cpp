#include <kelnom/PayloadRequest.hpp>

#include <string>

namespace kelnom::internal_objects {

const char* const PayloadRequest::_payload_sz_hdr_key = "p_size";
const char* const PayloadRequest::_payload_type_hdr_key = "p_type";

HeaderMap PayloadRequest::create_protocol_headers() const {
    return {
        {_payload_sz_hdr_key, std::to_string(request_payload.size())},
        {_payload_type_hdr_key, request_payload.type()},
    };
}

void PayloadRequest::handle_protocol_headers(HeaderMap& headers) {
    // The receiver has already taken "p_size" and "p_type" to read the payload.
    Request::handle_protocol_headers(headers);
}

}  // namespace kelnom::internal_objects
