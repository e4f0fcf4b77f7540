#pragma once

#include <memory>
#include <string>

#include <kelnom/Ack.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Message.hpp>

#include "HeldReceipts.hpp"
#include "KeptMessages.hpp"
#include "NodeRegistry.hpp"
#include "NodeSockets.hpp"
#include "NodeStats.hpp"
#include "Settings.hpp"

namespace cplt {
class Socket;
}

namespace kelnod {

// Serves one request from a local client or a downstream node per call: the
// handler of the channeler, or of the secure port, in the input selector.
// Replies go back to the peer the request came from (its identity, the
// route), on the port it came in on.
class ChannelerHandler {
public:
    ChannelerHandler(const Settings& settings, NodeSockets& sockets, PeerPort& port,
                     KeptMessages& store, NodeRegistry& registry, HeldReceipts& receipts,
                     NodeStats& stats);

    void operator()(cplt::Socket* channeler);

private:
    void handleAck(const kelnom::internal_objects::Ack& ack);
    void handleMessage(std::unique_ptr<kelnom::Message> message, const std::string& route);
    void handleInbox(const kelnom::internal_objects::Inbox& inbox, const std::string& route);
    void handleGetRegistry(const std::string& route);

    void forwardUp(kelnom::Message& message);

    const Settings& settings;
    NodeSockets& sockets;
    PeerPort& port;
    KeptMessages& store;
    NodeRegistry& registry;
    HeldReceipts& receipts;
    NodeStats& stats;
};

}  // namespace kelnod
