#include "Upstream.hpp"

#include <chrono>

#include <kelnou/Uuid.hpp>

#include "Console.hpp"

namespace kelnod {

namespace {

// A ping every second; an upstream node that has answered none for four
// seconds counts as gone. Its libzmq answers pings on its own I/O thread, so
// a busy node still answers: only a stopped one (or a lost link) does not.
constexpr std::chrono::milliseconds kHeartbeatInterval{1000};
constexpr std::chrono::milliseconds kHeartbeatTimeout{4000};

cplt::Socket& prepared_forwarder(cplt::Socket& forwarder, const Settings& settings) {
    forwarder.setIdentity(settings.node_name + "|fwd|" + kelnou::generate_str_uuid());
    // A send to a missing upstream fails at once instead of blocking the node's
    // only thread. The options apply to connections made after them.
    forwarder.setSendHWM(settings.send_queues.forwarder);
    forwarder.setDefaultWait(false);
    forwarder.setMaxMessageSize(settings.max_message_size);
    forwarder.setHeartbeat(kHeartbeatInterval, kHeartbeatTimeout);
    const SecuritySettings& security = settings.security;
    if (security.upstream_server_key) {
        forwarder.setCurveClient(*security.upstream_server_key, security.own_keys->public_key,
                                 security.own_keys->secret_key);
    }
    return forwarder;
}

}  // namespace

Upstream::Upstream(const Settings& settings, const std::string& remote)
    : forwarder(cplt::SocketType::Dealer),
      sender(&prepared_forwarder(forwarder, settings)),
      receiver(&forwarder),
      monitor(forwarder, cplt::SocketMonitor::handshake_succeeded |
                             cplt::SocketMonitor::disconnected |
                             cplt::SocketMonitor::handshake_failed_auth |
                             cplt::SocketMonitor::handshake_failed_protocol |
                             cplt::SocketMonitor::handshake_failed_no_detail),
      endpoint(remote) {
    forwarder.connect(remote);
}

bool Upstream::readLinkEvents() {
    bool came_up = false;
    while (auto event = monitor.next()) {
        if (event->event == cplt::SocketMonitor::handshake_succeeded && !link_up) {
            link_up = true;
            came_up = true;
            // The first link of a run is the normal case; only a return is news.
            if (lost) report("upstream " + endpoint + ": link back");
            lost = false;
            refused = false;
        } else if (event->event == cplt::SocketMonitor::disconnected && link_up) {
            link_up = false;
            lost = true;
            report("upstream " + endpoint +
                   ": link lost (closed, or no answer to heartbeats); inbox polls wait until it "
                   "is back");
        } else if (event->event != cplt::SocketMonitor::handshake_succeeded &&
                   event->event != cplt::SocketMonitor::disconnected && !refused) {
            // ZeroMQ tries again and again; once until the link is up is enough.
            refused = true;
            report("upstream " + endpoint +
                   ": handshake failed (is our public key among its authorized keys, and is "
                   "kelno.forwarder.server_key its public key?); retrying");
        }
    }
    return came_up;
}

}  // namespace kelnod
