#include <kelnom/Request.hpp>

#include <utility>

#include <kelnom/Exception.hpp>
#include <kelnou/Printable.hpp>

namespace kelnom::internal_objects {

void Request::handle_protocol_headers(HeaderMap& headers) {
    if (headers.empty()) {
        return;
    }
    std::string unexpected;
    for (const auto& [key, value] : headers) {
        unexpected += '(';
        unexpected += key;
        unexpected += _hdr_sep;
        unexpected += value;
        unexpected += ')';
    }
    headers.clear();
    throw ProtocolError(std::string("Did not expect more headers for request \"") + wireName() +
                        "\". Unexpected headers are: " + kelnou::printable(unexpected, 1024));
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
