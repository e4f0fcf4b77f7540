// The channeler's handling of an application message: acknowledge, keep for
// inbox polls, pass up the chain, publish locally.
#include "ChannelerHandler.hpp"

#include "Console.hpp"

namespace kelnod {

void ChannelerHandler::handleMessage(std::unique_ptr<kelnom::Message> received,
                                     const std::string& route) {
    say("Received MSG");
    ++node.stats.messages_received;
    std::shared_ptr<kelnom::Message> message = std::move(received);

    if (node.chain) {
        if (node.chain->accepted.contains(message->msgId())) {
            // A resend: the sender never heard that we have it. Nothing else
            // happens to it a second time.
            ++node.stats.drops.duplicate;
            node.receipts.acknowledge(port, route, message->msgId());
            return;
        }
        node.chain->accepted.accept(message->msgId());
    }
    // A sender that has gone away must not cost the message we already hold.
    node.receipts.acknowledge(port, route, message->msgId());
    // The store (and the outbox) hold this very object, so the origin node
    // appended below is part of what later inbox polls receive (and of what
    // the store file gets when the wake-up's changes are committed). A
    // reliable node does not keep a message addressed to itself: publishing
    // it here delivers it, and nobody would fetch a kept copy.
    const auto& routes = message->pushRoutes();
    if (!node.chain || routes.empty() || routes.front() != node.settings.node_name) {
        node.store.keep(message);
    }
    forwardUp(message);
    node.publications.publish(message);
}

void ChannelerHandler::forwardUp(const std::shared_ptr<kelnom::Message>& message) {
    if (!node.sockets.upstream) return;
    message->appendOriginNode(node.settings.node_name);
    if (node.chain) {
        // While the link is down it waits in the outbox, sent once the link is back.
        const bool sent = node.sockets.upstream->connected() &&
                          node.sockets.up(*message, Cargo::passed_up_outbox, message->msgId()) ==
                              SendOutcome::sent;
        if (sent) ++node.stats.messages_forwarded;
        node.chain->outbox.add(message, sent, Outbox::Clock::now());
        return;
    }
    // The store keeps what has a route: it still reaches its node by inbox poll.
    const Cargo cargo = message->pushRoutes().empty() ? Cargo::passed_up : Cargo::passed_up_kept;
    if (node.sockets.up(*message, cargo, message->msgId()) == SendOutcome::sent) {
        ++node.stats.messages_forwarded;
    }
}

}  // namespace kelnod
