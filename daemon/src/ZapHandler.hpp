#pragma once

#include <string>

#include <cplt/Socket.hpp>

#include "AuthorizedKeys.hpp"
#include "HandshakeRefusals.hpp"

namespace kelnod {

// The process's ZAP handler (ZeroMQ's authentication protocol): libzmq asks
// it, on an inproc REP socket, whether each CURVE handshake on a socket with
// our domain may go on. Only a key in the authorized keys is let in;
// everything else, a request that is not ours or not well formed included,
// is refused. Served on the node's thread like any other socket; a handshake
// waits for the answer.
class ZapHandler {
public:
    // The domain the secure port asks under.
    static const std::string _domain;

    ZapHandler(AuthorizedKeys keys, HandshakeRefusals& refusals);
    ZapHandler(const ZapHandler&) = delete;
    ZapHandler& operator=(const ZapHandler&) = delete;

    cplt::Socket& socket() { return rep; }
    // Answers one request; every request is answered, or libzmq's REP would
    // take no other.
    void serveOne();

private:
    cplt::Socket rep;
    AuthorizedKeys keys;
    HandshakeRefusals& refusals;
};

}  // namespace kelnod
