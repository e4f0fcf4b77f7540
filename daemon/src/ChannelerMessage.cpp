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

    // A sender that has gone away must not cost the message we already hold.
    receipts.acknowledge(port, route, message->msgId());
    // The store holds this very object, so the origin node appended below is
    // part of what later inbox polls receive (and of what the store file gets
    // when the wake-up's changes are committed).
    store.keep(message);
    forwardUp(*message);
    if (published(sockets.publish(*message))) ++stats.messages_published;
}

void ChannelerHandler::forwardUp(kelnom::Message& message) {
    if (!sockets.upstream) return;
    message.appendOriginNode(settings.node_name);
    // The store keeps what has a route: it still reaches its node by inbox poll.
    const Cargo cargo = message.pushRoutes().empty() ? Cargo::passed_up : Cargo::passed_up_kept;
    if (sockets.up(message, cargo, message.msgId()) == SendOutcome::sent) {
        ++stats.messages_forwarded;
    }
}

}  // namespace kelnod
