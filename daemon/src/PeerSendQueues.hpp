#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>

#include <cplt/Exception.hpp>

namespace kelnod {

// The node never waits for a peer: ZeroMQ keeps a bounded queue per peer and a
// send to a full one fails at once (EAGAIN). The first such drop is reported
// on standard error; later ones are counted until the peer takes a send
// again, so a stuck peer costs the log two lines each time its queue fills,
// not one per message.
class PeerSendQueues {
public:
    // Runs `send`, a send to `peer`; true when ZeroMQ took it. When the peer's
    // queue is full, false, and `dropped()` says what the peer misses. Any
    // other failure leaves the call.
    template <typename Send, typename Dropped>
    bool send(const std::string& peer, Send&& send, Dropped&& dropped) {
        try {
            send();
        } catch (const cplt::ZmqError& error) {
            if (error.errorNumber() == EHOSTUNREACH) peerGone(peer);
            if (error.errorNumber() != EAGAIN) throw;
            queueFull(peer, dropped());
            return false;
        }
        if (!full_peers.empty()) queueAccepts(peer);
        return true;
    }

private:
    void queueFull(const std::string& peer, const std::string& dropped);
    void queueAccepts(const std::string& peer);
    void peerGone(const std::string& peer);

    std::map<std::string, std::uint64_t> full_peers;  // peer → sends dropped since it filled up
};

// A peer identity as a log can show it: bytes outside printable ASCII (ZeroMQ's
// own identities start with a zero byte) as \xNN.
std::string printable_identity(const std::string& identity);

}  // namespace kelnod
