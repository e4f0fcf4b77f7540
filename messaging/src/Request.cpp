#include <kelnom/Request.hpp>

#include <utility>

#include <kelnom/Exception.hpp>

namespace kelnom::internal_objects {

void Request::handle_protocol_headers(HeaderMap& headers) {
    if (headers.empty()) {
        return;
    }
    std::string text = std::string("Did not expect more headers for request \"") + wireName() +
                       "\". Unexpected headers are: ";
    for (const auto& [key, value] : headers) {
        text += '(';
        text += key;
        text += _hdr_sep;
        text += value;
        text += ')';
    }
    headers.clear();
    throw ProtocolError(std::move(text));
}

std::string Request::move_from_headers(HeaderMap& headers, const std::string& key) {
    const auto entry = headers.find(key);
    if (entry == headers.end()) {
        throw ProtocolError("Expected \"" + key + "\" header.");
    }
    std::string value = std::move(entry->second);
    headers.erase(entry);
    return value;
}

}  // namespace kelnom::internal_objects
