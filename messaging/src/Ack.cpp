#include <kelnom/Ack.hpp>

#include <kelnou/Exception.hpp>

namespace kelnom::internal_objects {

const char* const Ack::_wire_name = "ACK";

namespace {

const char* const msg_id_hdr_key = "msg_id";

}  // namespace

Ack::Ack(HeaderMap& headers) { Ack::handle_protocol_headers(headers); }

HeaderMap Ack::create_protocol_headers() const { return {{msg_id_hdr_key, message_id}}; }

void Ack::handle_protocol_headers(HeaderMap& headers) {
    // Made once: every received acknowledgement passes it.
    static const std::string context = "While trying to decode headers for Ack";
    kelnou::with_context(context, [&] {
        message_id = move_from_headers(headers, msg_id_hdr_key);
        Request::handle_protocol_headers(headers);
    });
}

}  // namespace kelnom::internal_objects
