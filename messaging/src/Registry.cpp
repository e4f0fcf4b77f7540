#include <kelnom/Registry.hpp>

#include <kelnou/Exception.hpp>

namespace kelnom {

const char* const Registry::_wire_name = "REG";

Registry::Registry(Payload payload, HeaderMap& headers) : PayloadRequest(std::move(payload)) {
    Registry::handle_protocol_headers(headers);
}

HeaderMap Registry::create_protocol_headers() const {
    return PayloadRequest::create_protocol_headers();
}

void Registry::handle_protocol_headers(HeaderMap& headers) {
    kelnou::with_context("While trying to decode headers for Registry request",
                         [&] { PayloadRequest::handle_protocol_headers(headers); });
}

}  // namespace kelnom
