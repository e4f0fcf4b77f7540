#pragma once

#include <deque>
#include <string>
#include <vector>

#include <cplt/Socket.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

#include "PeerSendQueues.hpp"
#include "Settings.hpp"

namespace kelnod {

// The daemon's sockets with their senders and receiver, opened in start-up
// order: channeler, broadcaster, then one forwarder per upstream remote. A
// failure to bind or connect throws, and what was opened is closed again.
// Sends never wait: each peer has a bounded queue (the settings' limits).
class NodeSockets {
public:
    explicit NodeSockets(const Settings& settings);
    NodeSockets(const NodeSockets&) = delete;
    NodeSockets& operator=(const NodeSockets&) = delete;

    // Sends a request to the peer `route` on the channeler. False when the
    // peer's queue is full: reported, with `dropped()` saying what it misses.
    template <typename Request, typename Dropped>
    bool sendToPeer(const Request& request, const std::string& route, Dropped&& dropped) {
        return peer_queues.send(
            route, [&] { channeler_sender.send(request, &route); }, dropped);
    }

    // Sends a request up through forwarder `index`; false when the upstream
    // node's queue is full (reported like sendToPeer).
    template <typename Request, typename Dropped>
    bool sendUp(std::size_t index, const Request& request, Dropped&& dropped) {
        return peer_queues.send(
            forwarder_remotes[index], [&] { forwarder_senders[index].send(request, nullptr); },
            dropped);
    }

    const std::string& forwarderRemote(std::size_t index) const { return forwarder_remotes[index]; }

    // The index of a forwarder socket in `forwarders`.
    std::size_t forwarderIndex(const cplt::Socket* forwarder) const;

    cplt::Socket channeler;
    kelnom::Sender channeler_sender;
    kelnom::Receiver channeler_receiver;

    cplt::Socket broadcaster;
    kelnom::Sender broadcaster_sender;

    // A deque never moves its sockets, so the senders' pointers stay valid.
    std::deque<cplt::Socket> forwarders;
    std::vector<kelnom::Sender> forwarder_senders;  // same index as `forwarders`

private:
    std::vector<std::string> forwarder_remotes;  // the upstream endpoints, same index
    PeerSendQueues peer_queues;
};

}  // namespace kelnod
