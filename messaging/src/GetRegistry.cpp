#include <kelnom/GetRegistry.hpp>

#include <kelnou/Exception.hpp>

namespace kelnom::internal_objects {

const char* const GetRegistry::_wire_name = "GREG";

GetRegistry::GetRegistry(HeaderMap headers) {
    kelnou::with_context("While trying to decode headers for GetRegistry request",
                         [&] { GetRegistry::handle_protocol_headers(headers); });
}

void GetRegistry::handle_protocol_headers(HeaderMap& headers) {
    Request::handle_protocol_headers(headers);
}

}  // namespace kelnom::internal_objects
