#include <kelnom/Message.hpp>

#include <stdexcept>
#include <utility>

#include <kelnom/Exception.hpp>
#include <kelnou/Exception.hpp>
#include <kelnou/Uuid.hpp>

namespace kelnom {

const char* const Message::_wire_name = "MSG";

namespace {

const char* const id_hdr_key = "id";
const char* const app_id_hdr_key = "app_id";
const char* const valid_for_hdr_key = "valid_for";
const char* const ack_mode_hdr_key = "ack_mode";
const char* const origin_hdr_key = "origin";

// Each name followed by ","; a lone "," when there is none.
std::string join_origin_nodes(const std::vector<std::string>& nodes) {
    if (nodes.empty()) {
        return ",";
    }
    std::string text;
    for (const auto& node : nodes) {
        text += node;
        text += ',';
    }
    return text;
}

// Every "," ends a name; text after the last "," is dropped. Peers send "," for
// an empty list, so texts shorter than two characters carry no names.
std::vector<std::string> split_origin_nodes(const std::string& text) {
    std::vector<std::string> nodes;
    if (text.size() < 2) {
        return nodes;
    }
    std::string current;
    for (const char c : text) {
        if (c == ',') {
            nodes.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    return nodes;
}

Message::AckMode parse_ack_mode(const std::string& text) {
    try {
        return static_cast<Message::AckMode>(std::stoi(text));
    } catch (const std::logic_error& e) {
        throw ProtocolError(std::string("Ack mode is incorrect for Message. Logic error: ") +
                            e.what());
    }
}

}  // namespace

Message::Message(Payload payload, Config config)
    : PayloadRequest(std::move(payload)), config(std::move(config)) {
    generate_new_id();
}

Message::Message(Payload payload, std::vector<std::string> routes, HeaderMap& headers)
    : PayloadRequest(std::move(payload)), config() {
    Message::handle_protocol_headers(headers);
    config.push_routes = std::move(routes);
}

Message::Message(const Message& other) : Message(Payload(other.payload()), other.config) {}

void Message::generate_new_id() { message_id = kelnou::generate_str_uuid(); }

HeaderMap Message::create_protocol_headers() const {
    HeaderMap headers = PayloadRequest::create_protocol_headers();
    headers[id_hdr_key] = message_id;
    headers[app_id_hdr_key] = config.app_id;
    headers[valid_for_hdr_key] = std::to_string(config.valid_for.count());
    headers[ack_mode_hdr_key] = std::to_string(static_cast<int>(config.ack_mode));
    headers[origin_hdr_key] = join_origin_nodes(origin_nodes);
    return headers;
}

void Message::handle_protocol_headers(HeaderMap& headers) {
    // Made once: every received message passes it.
    static const std::string context = "While trying to decode protocol headers for Message";
    kelnou::with_context(context, [&] { decode_headers(headers); });
}

void Message::decode_headers(HeaderMap& headers) {
    message_id = move_from_headers(headers, id_hdr_key);
    config.app_id = move_from_headers(headers, app_id_hdr_key);
    // The standard conversion errors ("stoll") pass through as they are.
    config.valid_for = Seconds(std::stoll(move_from_headers(headers, valid_for_hdr_key)));
    config.ack_mode = parse_ack_mode(move_from_headers(headers, ack_mode_hdr_key));
    origin_nodes = split_origin_nodes(move_from_headers(headers, origin_hdr_key));
    Request::handle_protocol_headers(headers);
}

}  // namespace kelnom
