#include "NodeSockets.hpp"

#include <kelnou/Uuid.hpp>

namespace kelnod {

namespace {

std::string any_interface(int port) { return "tcp://*:" + std::to_string(port); }

// A send to a peer that does not read (or to a missing upstream) fails at
// once instead of blocking the node's only thread. The limit applies to the
// connections made after it is set, so it comes before bind and connect.
void never_block(cplt::Socket& socket, int queue_limit) {
    socket.setSendHWM(queue_limit);
    socket.setDefaultWait(false);
}

}  // namespace

NodeSockets::NodeSockets(const Settings& settings)
    : channeler(cplt::SocketType::Router),
      channeler_sender(&channeler),
      channeler_receiver(&channeler),
      broadcaster(cplt::SocketType::Pub),
      broadcaster_sender(&broadcaster),
      forwarder_remotes(settings.forwarder_remotes) {
    channeler.setIdentity(settings.node_name + "|chnler");
    // A client restarted under the same application id reconnects with the
    // identity its previous run still holds; it must be heard at once.
    channeler.setRouterHandover(true);
    never_block(channeler, settings.send_queues.channeler);
    channeler.bind(any_interface(settings.channeler_port));

    broadcaster.setIdentity(settings.node_name + "|brd");
    // A subscriber that falls behind misses publications; PUB drops, never waits.
    broadcaster.setSendHWM(settings.send_queues.broadcaster);
    broadcaster.bind(any_interface(settings.broadcaster_port));

    forwarder_senders.reserve(settings.forwarder_remotes.size());
    for (const auto& remote : settings.forwarder_remotes) {
        cplt::Socket& forwarder = forwarders.emplace_back(cplt::SocketType::Dealer);
        forwarder.setIdentity(settings.node_name + "|fwd|" + kelnou::generate_str_uuid());
        never_block(forwarder, settings.send_queues.forwarder);
        forwarder.connect(remote);
        forwarder_senders.emplace_back(&forwarder);
    }
}

std::size_t NodeSockets::forwarderIndex(const cplt::Socket* forwarder) const {
    std::size_t index = 0;
    while (index + 1 < forwarders.size() && &forwarders[index] != forwarder) ++index;
    return index;
}

}  // namespace kelnod
