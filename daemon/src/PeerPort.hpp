#pragma once

#include <string>

#include <cplt/Socket.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

#include "Settings.hpp"

namespace kelnod {

// A ROUTER on which local clients or downstream nodes send requests, with its
// sender and receiver: the channeler, or the secure port. Both are served the
// same way, and a reply goes back on the port its request came from. Bound by
// its owner, once any security options are set. Never moved: the sender and
// the receiver point at the socket.
class PeerPort {
public:
    // `identity_suffix` follows the node name in the socket's identity;
    // `label` comes before its peers' names in reports ("" or "secure ").
    PeerPort(const Settings& settings, const std::string& identity_suffix, std::string label);
    PeerPort(const PeerPort&) = delete;
    PeerPort& operator=(const PeerPort&) = delete;

    // How reports name the peer whose identity is `route`.
    std::string peerLabel(const std::string& route) const;

    cplt::Socket socket;
    kelnom::Sender sender;
    kelnom::Receiver receiver;

private:
    std::string label;
};

}  // namespace kelnod
