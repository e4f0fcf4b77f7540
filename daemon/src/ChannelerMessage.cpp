// The channeler's handling of an application message: acknowledge, keep for
// inbox polls, pass up the chain, publish locally.
#include "ChannelerHandler.hpp"

#include "Console.hpp"

namespace kelnod {

void ChannelerHandler::handleMessage(std::unique_ptr<kelnom::Message> received,
                                     const std::string& route) {
    say("Received MSG");
    ++stats.messages_received;
    std::shared_ptr<kelnom::Message> message = std::move(received);

    if (chain) {
        if (chain->accepted.contains(message->msgId())) {
            // A resend: the sender never heard that we have it. Nothing else
            // happens to it a second time.
            ++stats.drops.duplicate;
            receipts.acknowledge(port, route, message->msgId());
            return;
        }
        chain->accepted.accept(message->msgId());
    }
    // A sender that has gone away must not cost the message we already hold.
    receipts.acknowledge(port, route, message->msgId());
    // The store (and the outbox) hold this very object, so the origin node
    // appended below is part of what later inbox polls receive (and of what
    // the store file gets when the wake-up's changes are committed).
    // A reliable node has delivered a message addressed to itself by
    // publishing it: nobody would fetch a kept copy.
    const auto& routes = message->pushRoutes();
    if (!chain || routes.empty() || routes.front() != settings.node_name) store.keep(message);
    forwardUp(message);
    publications.publish(message);
}

void ChannelerHandler::forwardUp(const std::shared_ptr<kelnom::Message>& message) {
    if (!sockets.upstream) return;
    message->appendOriginNode(settings.node_name);
    if (chain) {
        // While the link is down it waits in the outbox, sent once the link is back.
        const bool sent =
            sockets.upstream->connected() &&
            sockets.up(*message, Cargo::passed_up_outbox, message->msgId()) == SendOutcome::sent;
        if (sent) ++stats.messages_forwarded;
        chain->outbox.add(message, sent, Outbox::Clock::now());
        return;
    }
    // The store keeps what has a route: it still reaches its node by inbox poll.
    const Cargo cargo = message->pushRoutes().empty() ? Cargo::passed_up : Cargo::passed_up_kept;
    if (sockets.up(*message, cargo, message->msgId()) == SendOutcome::sent) {
        ++stats.messages_forwarded;
    }
}

}  // namespace kelnod
