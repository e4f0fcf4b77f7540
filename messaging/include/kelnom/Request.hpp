#pragma once

#include <map>
#include <string>

namespace kelnom {

// Protocol headers of a request, in byte-wise key order.
using HeaderMap = std::map<std::string, std::string>;

// What a request is, told apart in this one place: handlers switch on it
// and then take the request as its class.
enum class RequestKind { Message, Registry, Inbox, Ack, GetRegistry };

namespace internal_objects {

// Root of everything that travels on the bus. Each concrete kind has a wire
// name (the command frame) and converts itself to and from protocol headers.
class Request {
public:
    static constexpr char _hdr_sep = '|';

    Request() = default;
    virtual const char* wireName() const = 0;
    virtual RequestKind kind() const = 0;
    virtual ~Request() = default;
    virtual HeaderMap create_protocol_headers() const = 0;
    // The leftover check: raises ProtocolError naming every header still in the
    // map (and clears it). Derived kinds take their own headers first.
    virtual void handle_protocol_headers(HeaderMap& headers);

    // Takes the value out of the map; ProtocolError "Expected "<key>" header."
    // when absent (the map is then unchanged).
    static std::string move_from_headers(HeaderMap& headers, const std::string& key);
};

}  // namespace internal_objects
}  // namespace kelnom
