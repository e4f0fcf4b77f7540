#pragma once

#include <memory>
#include <string>

#include <kelnom/Ack.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Message.hpp>

#include "NodeParts.hpp"

namespace cplt {
class Socket;
}

namespace kelnod {

// Serves one request from a local client or a downstream node per call: the
// handler of the channeler, or of the secure port, in the input selector.
// Replies go back to the peer the request came from (its identity, the
// route), on the port it came in on.
//
// A reliable node accepts a message once: a copy whose id it has accepted
// already is acknowledged again and dropped. What it passes up waits in the
// outbox until the upstream node acknowledges it.
class ChannelerHandler {
public:
    ChannelerHandler(NodeParts& parts, PeerPort& port);

    void operator()(cplt::Socket* channeler);

private:
    void handleAck(const kelnom::internal_objects::Ack& ack);
    void handleMessage(std::unique_ptr<kelnom::Message> message, const std::string& route);
    void handleInbox(const kelnom::internal_objects::Inbox& inbox, const std::string& route);
    void handleGetRegistry(const std::string& route);

    void forwardUp(const std::shared_ptr<kelnom::Message>& message);

    const Settings& settings;
    NodeSockets& sockets;
    PeerPort& port;
    KeptMessages& store;
    NodeRegistry& registry;
    HeldReceipts& receipts;
    HeldPublications& publications;
    UpstreamInboxPoll& upstream_poll;
    NodeStats& stats;
    ReliableChain* chain;
};

}  // namespace kelnod
