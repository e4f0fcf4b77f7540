#include "NodeSockets.hpp"

#include <cerrno>
#include <chrono>
#include <thread>

#include <cplt/Context.hpp>

namespace kelnod {

namespace {

std::string endpoint(const std::string& interface, int port) {
    return "tcp://" + interface + ":" + std::to_string(port);
}

// How reports name the broadcaster's subscribers: PUB does not say which one
// is full.
const std::string subscriber_label = "broadcaster subscriber";

const std::string no_remote;

// A stop signal ends the wait early; the next socket call then raises the
// termination.
void wait_for_subscribers() {
    const auto until = std::chrono::steady_clock::now() + NodeSockets::_subscriber_head_start;
    while (std::chrono::steady_clock::now() < until && !cplt::Context::stopSignalReceived()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

NodeSockets::NodeSockets(const Settings& settings, NodeStats& stats)
    : channeler(settings, "|chnler", ""),
      broadcaster(cplt::SocketType::Pub),
      broadcaster_sender(&broadcaster),
      stats(stats),
      max_message_size(settings.max_message_size) {
    const auto bind_channeler = [&] {
        channeler.socket.bind(endpoint(settings.channeler_bind, settings.channeler_port));
        if (max_message_size > 0)
            channeler_monitor.emplace(channeler.socket, cplt::SocketMonitor::disconnected);
    };
    if (!settings.chain.reliable) bind_channeler();

    broadcaster.setIdentity(settings.node_name + "|brd");
    broadcaster.setSendHWM(settings.send_queues.broadcaster);
    // A full subscriber queue makes the send fail instead of dropping it
    // unseen; publish() then sends again the lossy way and counts the drop.
    broadcaster.setNoDrop(true);
    broadcaster.setDefaultWait(false);
    broadcaster.bind(endpoint(settings.broadcaster_bind, settings.broadcaster_port));
    if (settings.chain.reliable) {
        // Subscribers of a node that has just restarted reconnect before
        // anything is published: what a reliable node publishes after a
        // restart is what it must not lose.
        wait_for_subscribers();
        bind_channeler();
    }

    if (settings.security.secure_port) secure.emplace(settings);

    if (!settings.forwarder_remotes.empty()) {
        upstream.emplace(settings, settings.forwarder_remotes.front());
    }
}

void NodeSockets::reportClosedConnections() {
    while (channeler_monitor->next()) {
        // ZeroMQ says the same when a peer leaves and when it is cut off.
        report("channeler: a connection was closed; its peer left, or sent a message over " +
               std::to_string(max_message_size) + " bytes (kelno.max_message_size)");
    }
}

SendOutcome NodeSockets::toPeer(PeerPort& port, const std::string& route,
                                const kelnom::internal_objects::Request& request, Cargo cargo,
                                const std::string& message_id) {
    const SendOutcome outcome = peer_queues.send(
        port.peerLabel(route), [&] { port.sender.send(request, &route); }, cargo, message_id,
        no_remote);
    if (outcome == SendOutcome::queue_full) ++stats.drops.channeler_queue_full;
    return outcome;
}

SendOutcome NodeSockets::up(const kelnom::internal_objects::Request& request, Cargo cargo,
                            const std::string& message_id) {
    Upstream& link = *upstream;
    const SendOutcome outcome = peer_queues.send(
        "peer " + link.remote(), [&] { link.sender.send(request, nullptr); }, cargo, message_id,
        link.remote());
    if (outcome == SendOutcome::queue_full) ++stats.drops.upstream_queue_full;
    return outcome;
}

SendOutcome NodeSockets::publish(const kelnom::Message& message) {
    const std::string& topic = message.appId();
    const SendOutcome outcome = peer_queues.send(
        subscriber_label, [&] { broadcaster_sender.send(message, &topic); }, Cargo::publication,
        message.msgId(), no_remote);
    if (outcome != SendOutcome::queue_full) return outcome;
    // Some subscriber is full: the others still get the message. This send is
    // not part of the episode (it cannot find a queue full), hence no name.
    broadcaster.setNoDrop(false);
    const SendOutcome lossy = peer_queues.send(
        std::string(), [&] { broadcaster_sender.send(message, &topic); }, Cargo::publication,
        message.msgId(), no_remote);
    broadcaster.setNoDrop(true);
    ++stats.drops.subscriber_queue_full;
    return lossy == SendOutcome::sent ? SendOutcome::queue_full : lossy;
}

}  // namespace kelnod
