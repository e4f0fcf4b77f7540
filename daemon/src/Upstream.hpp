#pragma once

#include <string>

#include <cplt/Socket.hpp>
#include <cplt/SocketMonitor.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

#include "Settings.hpp"

namespace kelnod {

// The link to the upstream node: the forwarder socket with its sender and
// receiver, and whether the link is up as its monitor last said.
//
// ZeroMQ's heartbeat finds an upstream node that stops answering (a stopped
// or swapped-out process answers no ping) and drops the connection, so the
// node knows not to pile inbox polls up for it; messages passed up meanwhile
// wait in the forwarder's queue as before. Never moved: the sender, the
// receiver and the monitor point at the socket.
class Upstream {
public:
    Upstream(const Settings& settings, const std::string& remote);
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;

    // Reads the monitor's reports; true when the link has just come up.
    bool readLinkEvents();
    bool connected() const { return link_up; }
    const std::string& remote() const { return endpoint; }

    cplt::Socket forwarder;
    kelnom::Sender sender;
    kelnom::Receiver receiver;
    cplt::SocketMonitor monitor;

private:
    std::string endpoint;
    bool link_up = false;
    bool lost = false;     // the link went down and has not come back yet
    bool refused = false;  // a handshake failed since the link was last up
};

}  // namespace kelnod
