// Feeds a header map built from arbitrary bytes to the decoding constructors
// of every request kind. A decoded request must have taken every header, and
// its own headers must decode again to the same headers.
//
// Input layout:
//   byte 0   the kind, modulo 5: Message, Registry, Inbox, Ack, GetRegistry.
//   rest     header lines separated by "\n"; each is split at its first "|"
//            into key and value (a line without one is a key with an empty
//            value). A later line replaces an earlier one with the same key,
//            as on the wire.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <kelnom/Ack.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>
#include <kelnom/PayloadRequest.hpp>
#include <kelnom/Registry.hpp>
#include <kelnom/Request.hpp>

#include "FuzzSupport.hpp"

namespace {

using kelno_fuzz::accepted;
using kelno_fuzz::check;
using kelnom::HeaderMap;
using kelnom::internal_objects::PayloadRequest;
using kelnom::internal_objects::Request;

HeaderMap parse_headers(const char* data, std::size_t size) {
    HeaderMap headers;
    std::size_t line_start = 0;
    while (line_start < size) {
        std::size_t line_end = line_start;
        while (line_end < size && data[line_end] != '\n') ++line_end;
        const std::string line(data + line_start, line_end - line_start);
        const auto separator = line.find(Request::_hdr_sep);
        if (separator == std::string::npos) {
            headers[line] = "";
        } else {
            headers[line.substr(0, separator)] = line.substr(separator + 1);
        }
        line_start = line_end + 1;
    }
    return headers;
}

kelnom::Payload small_payload() { return kelnom::Payload(new char[3]{'a', 'b', 'c'}, 3, "text"); }

// The decoding constructor of kind `kind`; the receiver has taken the payload
// headers out before it calls them.
std::unique_ptr<Request> decode(unsigned kind, HeaderMap& headers) {
    switch (kind) {
        case 0:
            return std::make_unique<kelnom::Message>(small_payload(),
                                                     std::vector<std::string>{"route"}, headers);
        case 1:
            return std::make_unique<kelnom::Registry>(small_payload(), headers);
        case 2:
            return std::make_unique<kelnom::internal_objects::Inbox>(headers);
        case 3:
            return std::make_unique<kelnom::internal_objects::Ack>(headers);
        default:
            return std::make_unique<kelnom::internal_objects::GetRegistry>(headers);
    }
}

// The headers as the receiver hands them to a decoding constructor.
HeaderMap without_payload_headers(HeaderMap headers) {
    headers.erase(PayloadRequest::_payload_sz_hdr_key);
    headers.erase(PayloadRequest::_payload_type_hdr_key);
    return headers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned kind = data[0] % 5;
    HeaderMap headers = parse_headers(reinterpret_cast<const char*>(data + 1), size - 1);

    std::unique_ptr<Request> decoded;
    if (!accepted([&] { decoded = decode(kind, headers); })) return 0;
    check(headers.empty() || kind == 4, "a decoded request left headers unread");

    const HeaderMap encoded = decoded->create_protocol_headers();
    HeaderMap again = without_payload_headers(encoded);
    std::unique_ptr<Request> redecoded;
    check(accepted([&] { redecoded = decode(kind, again); }),
          "a request's own headers failed to decode");
    check(redecoded->create_protocol_headers() == encoded,
          "a request's own headers decoded to different headers");
    return 0;
}
