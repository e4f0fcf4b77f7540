#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <cplt/Socket.hpp>
#include <cplt/SocketMonitor.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Request.hpp>
#include <kelnom/Sender.hpp>

#include "PeerPort.hpp"
#include "NodeStats.hpp"
#include "PeerSendQueues.hpp"
#include "SecurePort.hpp"
#include "SendOutcome.hpp"
#include "Settings.hpp"
#include "Upstream.hpp"

namespace kelnod {

// The daemon's sockets with their senders and receivers, opened in start-up
// order: channeler, broadcaster, the secure port if there is one, then the
// link to the upstream node if there is one. A failure to bind or connect throws, and what was opened is closed
// again.
//
// Every send goes through here and never waits: each peer has a bounded
// queue (the settings' limits). A send says what became of it and has
// reported a drop or a failure already, so callers only decide what follows.
// Drops for full queues are counted in `stats` by the kind of peer.
//
// A reliable node (kelno.chain.reliable) binds its broadcaster first and
// its channeler only _subscriber_head_start later.
class NodeSockets {
public:
    static constexpr std::chrono::seconds _subscriber_head_start{1};

    NodeSockets(const Settings& settings, NodeStats& stats);
    NodeSockets(const NodeSockets&) = delete;
    NodeSockets& operator=(const NodeSockets&) = delete;

    // To the peer `route` on `port` (the channeler or the secure port).
    // `message_id` names the message the request carries or answers, for reports.
    SendOutcome toPeer(PeerPort& port, const std::string& route,
                       const kelnom::internal_objects::Request& request, Cargo cargo,
                       const std::string& message_id = {});
    // Up through the forwarder; only when there is an upstream node.
    SendOutcome up(const kelnom::internal_objects::Request& request, Cargo cargo,
                   const std::string& message_id = {});
    // To the local subscribers of the message's application id. A subscriber
    // whose queue is full misses it, and the drop is counted like a full
    // peer queue's; the others get it.
    SendOutcome publish(const kelnom::Message& message);

    PeerPort channeler;

    cplt::Socket broadcaster;
    kelnom::Sender broadcaster_sender;

    std::optional<SecurePort> secure;  // with kelno.secure.port
    std::optional<Upstream> upstream;

    // With a message size limit: the channeler's closed connections, for a
    // peer that sent too much is disconnected by ZeroMQ without another word.
    std::optional<cplt::SocketMonitor> channeler_monitor;
    // Reports the connections closed since the last call.
    void reportClosedConnections();


private:
    NodeStats& stats;
    PeerSendQueues peer_queues;
    std::int64_t max_message_size;
};

}  // namespace kelnod
