#include <kelnom/Inbox.hpp>

#include <kelnom/Exception.hpp>
#include <kelnou/Exception.hpp>
#include <kelnou/Printable.hpp>

namespace kelnom::internal_objects {

const char* const Inbox::_wire_name = "BOX";

namespace {

const char* const app_id_hdr_key = "app_id";
const char* const box_type_hdr_key = "box_type";
const char* const client_box_type = "clnt";
const char* const node_box_type = "node";

InboxType parse_box_type(const std::string& text) {
    if (text == client_box_type) {
        return InboxType::Client;
    }
    if (text == node_box_type) {
        return InboxType::Node;
    }
    throw ProtocolError("Unknown inbox type specified in headers... " + kelnou::printable(text));
}

}  // namespace

Inbox::Inbox(HeaderMap& headers) { Inbox::handle_protocol_headers(headers); }

HeaderMap Inbox::create_protocol_headers() const {
    return {
        {app_id_hdr_key, app_id},
        {box_type_hdr_key, box_type == InboxType::Client ? client_box_type : node_box_type},
    };
}

void Inbox::handle_protocol_headers(HeaderMap& headers) {
    kelnou::with_context("While trying to decode headers for Inbox", [&] {
        app_id = move_from_headers(headers, app_id_hdr_key);
        box_type = parse_box_type(move_from_headers(headers, box_type_hdr_key));
        Request::handle_protocol_headers(headers);
    });
}

}  // namespace kelnom::internal_objects
