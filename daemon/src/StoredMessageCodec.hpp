#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <kelnom/Message.hpp>

namespace kelnod {

// How the store file holds a message: its protocol headers but those of the
// payload, its push routes, its payload type and its payload, each column a
// byte string. Lists are length-prefixed byte strings (a 4-byte little-endian
// length, then the bytes), so any bytes travel unchanged and a message read
// back is sent exactly as before.
struct StoredMessage {
    std::string headers;
    std::string push_routes;
};

StoredMessage encode_stored_message(const kelnom::Message& message);

// The message again from its columns, or null when they do not make one
// (the file is outside the process: every length is checked). A kept message
// must have a push route; an outgoing one need not.
std::shared_ptr<kelnom::Message> decode_stored_message(std::string_view headers,
                                                       std::string_view push_routes,
                                                       std::string_view payload_type,
                                                       std::string_view payload,
                                                       bool needs_route);

}  // namespace kelnod
