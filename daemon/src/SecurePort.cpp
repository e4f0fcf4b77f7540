#include "SecurePort.hpp"

#include "Console.hpp"

namespace kelnod {

namespace {

int monitored_events(const Settings& settings) {
    int events = cplt::SocketMonitor::handshake_failed_protocol |
                 cplt::SocketMonitor::handshake_failed_no_detail |
                 cplt::SocketMonitor::handshake_succeeded;
    if (settings.max_message_size > 0) events |= cplt::SocketMonitor::disconnected;
    return events;
}

}  // namespace

SecurePort::SecurePort(const Settings& settings)
    : zap(AuthorizedKeys(settings.security.authorized_keys_path), refusals),
      port(settings, "|secure", "secure "),
      monitor(port.socket, monitored_events(settings)),
      endpoint("tcp://*:" + std::to_string(*settings.security.secure_port)),
      max_message_size(settings.max_message_size) {
    port.socket.setCurveServer(settings.security.own_keys->secret_key);
    port.socket.setZapDomainEnforced(ZapHandler::_domain);
    port.socket.bind(endpoint);
}

void SecurePort::readMonitor() {
    while (auto event = monitor.next()) {
        // On a bound socket ZeroMQ names the port, not the peer, for these.
        const std::string who = "a peer of " + endpoint;
        switch (event->event) {
            case cplt::SocketMonitor::handshake_failed_protocol:
            case cplt::SocketMonitor::handshake_failed_no_detail:
                refusals.refused(who,
                                 "no CURVE handshake with this node's public key (a plaintext "
                                 "peer, or a wrong kelno.forwarder.server_key)");
                break;
            case cplt::SocketMonitor::handshake_succeeded:
                refusals.letIn(who);
                break;
            case cplt::SocketMonitor::disconnected:
                report("secure port: a connection was closed; its peer left, or sent a message "
                       "over " + std::to_string(max_message_size) +
                       " bytes (kelno.max_message_size)");
                break;
            default:
                break;
        }
    }
}

}  // namespace kelnod
