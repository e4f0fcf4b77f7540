#pragma once

#include <deque>
#include <string>
#include <vector>

#include <cplt/Socket.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

#include "Settings.hpp"

namespace kelnod {

// The daemon's sockets with their senders and receiver, opened in start-up
// order: channeler, broadcaster, then one forwarder per upstream remote. A
// failure to bind or connect throws, and what was opened is closed again.
class NodeSockets {
public:
    explicit NodeSockets(const Settings& settings);
    NodeSockets(const NodeSockets&) = delete;
    NodeSockets& operator=(const NodeSockets&) = delete;

    cplt::Socket channeler;
    kelnom::Sender channeler_sender;
    kelnom::Receiver channeler_receiver;

    cplt::Socket broadcaster;
    kelnom::Sender broadcaster_sender;

    // A deque never moves its sockets, so the senders' pointers stay valid.
    std::deque<cplt::Socket> forwarders;
    std::vector<kelnom::Sender> forwarder_senders;  // same index as `forwarders`
};

}  // namespace kelnod
