#pragma once

#include <ostream>

#include <kelnom/Payload.hpp>
#include <kelnom/Registry.hpp>

// "Payload reads: " and the text up to its first zero byte for a "text"
// payload, the unreadable notice for any other type; then an empty line.
void print_delivered_payload(std::ostream& out, const kelnom::Payload& payload);

// "Received registry: " and the registry document as compact JSON. A document
// that is not JSON raises the JSON library's parse error.
void print_registry(std::ostream& out, const kelnom::Registry& registry);
