#pragma once

#include <optional>
#include <string>

#include <cplt/SocketMonitor.hpp>

#include "HandshakeRefusals.hpp"
#include "PeerPort.hpp"
#include "Settings.hpp"
#include "ZapHandler.hpp"

namespace kelnod {

// The port downstream nodes reach over networks we do not control: a second
// ROUTER, served exactly as the channeler, on which every peer must complete
// a CURVE handshake with a key from the authorized keys. It fails closed: the
// ZAP handler is bound before the port, and the port demands its answer, so
// no request is read from a peer that it has not let in.
class SecurePort {
public:
    explicit SecurePort(const Settings& settings);
    SecurePort(const SecurePort&) = delete;
    SecurePort& operator=(const SecurePort&) = delete;

    // Reads the port's monitor: handshakes that failed before the ZAP handler
    // was asked (a plaintext peer, one that does not know our public key) are
    // refusals too, and connections cut for a message over the size limit are
    // reported like the channeler's.
    void readMonitor();

    HandshakeRefusals refusals;
    ZapHandler zap;
    PeerPort port;
    cplt::SocketMonitor monitor;

private:
    std::string endpoint;
    std::int64_t max_message_size;
};

}  // namespace kelnod
