#include "NodeSockets.hpp"

#include <chrono>

#include <kelnou/Uuid.hpp>

namespace kelnod {

namespace {

std::string any_interface(int port) { return "tcp://*:" + std::to_string(port); }

// A send to a peer that does not read (or to a missing upstream) fails at
// once instead of blocking the node's only thread.
void never_block(cplt::Socket& socket) { socket.setDefaultWait(false); }

}  // namespace

NodeSockets::NodeSockets(const Settings& settings)
    : channeler(cplt::SocketType::Router),
      channeler_sender(&channeler),
      channeler_receiver(&channeler),
      broadcaster(cplt::SocketType::Pub),
      broadcaster_sender(&broadcaster) {
    channeler.setIdentity(settings.node_name + "|chnler");
    // A client restarted under the same application id reconnects with the
    // identity its previous run still holds; it must be heard at once.
    channeler.setRouterHandover(true);
    channeler.bind(any_interface(settings.channeler_port));
    never_block(channeler);

    broadcaster.setIdentity(settings.node_name + "|brd");
    broadcaster.bind(any_interface(settings.broadcaster_port));

    forwarder_senders.reserve(settings.forwarder_remotes.size());
    for (const auto& remote : settings.forwarder_remotes) {
        cplt::Socket& forwarder = forwarders.emplace_back(cplt::SocketType::Dealer);
        forwarder.setIdentity(settings.node_name + "|fwd|" + kelnou::generate_str_uuid());
        forwarder.connect(remote);
        never_block(forwarder);
        forwarder_senders.emplace_back(&forwarder);
    }
}

}  // namespace kelnod
