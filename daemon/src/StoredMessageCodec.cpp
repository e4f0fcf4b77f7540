#include "StoredMessageCodec.hpp"

#include <cstdint>
#include <cstring>
#include <exception>

namespace kelnod {

namespace {

void put_bytes(std::string& out, std::string_view bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((size >> shift) & 0xff);
    out.append(bytes.data(), bytes.size());
}

bool take_bytes(std::string_view& in, std::string& out) {
    if (in.size() < 4) return false;
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(in[i]);
    in.remove_prefix(4);
    if (in.size() < size) return false;
    out.assign(in.data(), size);
    in.remove_prefix(size);
    return true;
}

bool decode_list(std::string_view in, std::vector<std::string>& list) {
    std::string item;
    while (!in.empty()) {
        if (!take_bytes(in, item)) return false;
        list.push_back(item);
    }
    return true;
}

bool decode_headers(std::string_view in, kelnom::HeaderMap& headers) {
    std::string key;
    std::string value;
    while (!in.empty()) {
        if (!take_bytes(in, key) || !take_bytes(in, value)) return false;
        headers[key] = value;
    }
    return true;
}

}  // namespace

StoredMessage encode_stored_message(const kelnom::Message& message) {
    StoredMessage stored;
    // The payload's headers are the payload's columns, as the wire keeps them
    // in its frame.
    kelnom::HeaderMap headers = message.create_protocol_headers();
    headers.erase(kelnom::internal_objects::PayloadRequest::_payload_sz_hdr_key);
    headers.erase(kelnom::internal_objects::PayloadRequest::_payload_type_hdr_key);
    for (const auto& [key, value] : headers) {
        put_bytes(stored.headers, key);
        put_bytes(stored.headers, value);
    }
    for (const auto& route : message.pushRoutes()) put_bytes(stored.push_routes, route);
    return stored;
}

std::shared_ptr<kelnom::Message> decode_stored_message(std::string_view headers_bytes,
                                                       std::string_view push_routes,
                                                       std::string_view payload_type,
                                                       std::string_view payload_bytes,
                                                       bool needs_route) {
    kelnom::HeaderMap headers;
    std::vector<std::string> routes;
    if (!decode_headers(headers_bytes, headers) || !decode_list(push_routes, routes) ||
        (needs_route && routes.empty())) {
        return nullptr;
    }
    try {
        kelnom::Payload payload(static_cast<std::uint32_t>(payload_bytes.size()),
                                std::string(payload_type));
        if (!payload_bytes.empty()) {
            std::memcpy(payload.getBuffer(), payload_bytes.data(), payload_bytes.size());
        }
        return std::make_shared<kelnom::Message>(std::move(payload), std::move(routes), headers);
    } catch (const std::exception&) {
        return nullptr;  // a header missing (kelnom::ProtocolError) or not a number
    }
}

}  // namespace kelnod
