#include "PeerPort.hpp"

#include "PeerSendQueues.hpp"

namespace kelnod {

PeerPort::PeerPort(const Settings& settings, const std::string& identity_suffix,
                   std::string label)
    : socket(cplt::SocketType::Router),
      sender(&socket),
      receiver(&socket),
      label(std::move(label)) {
    socket.setIdentity(settings.node_name + identity_suffix);
    // A client restarted under the same application id reconnects with the
    // identity its previous run still holds; it must be heard at once.
    socket.setRouterHandover(true);
    // A send to a peer that does not read fails at once instead of blocking
    // the node's only thread. The options apply to connections made after them.
    socket.setSendHWM(settings.send_queues.channeler);
    socket.setDefaultWait(false);
    socket.setMaxMessageSize(settings.max_message_size);
}

std::string PeerPort::peerLabel(const std::string& route) const {
    return label + peer_label(route);
}

}  // namespace kelnod
