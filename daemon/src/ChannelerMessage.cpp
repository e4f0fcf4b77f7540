// The channeler's handling of an application message: acknowledge, keep for
// inbox polls, pass up the chain, publish locally.
#include "ChannelerHandler.hpp"

#include "Console.hpp"
#include "Publish.hpp"

namespace kelnod {

void ChannelerHandler::handleMessage(std::unique_ptr<kelnom::Message> received,
                                     const std::string& route) {
    say("Received MSG");
    std::shared_ptr<kelnom::Message> message = std::move(received);

    acknowledgeReceipt(*message, route);
    // The store holds this very object, so the origin nodes appended below are
    // part of what later inbox polls receive.
    store.keep(message);
    forwardUp(*message);
    publish_locally(sockets.broadcaster_sender, *message);
}

void ChannelerHandler::acknowledgeReceipt(const kelnom::Message& message,
                                          const std::string& route) {
    // A sender that has gone away must not cost the message we already hold.
    send_or_report(
        [&] {
            sockets.sendToPeer(message.generate_ack(), route, [&] {
                return "acknowledgement of message " + message.msgId() + " dropped";
            });
        },
        [&](const kelnou::Exception& error) {
            report("Failed to acknowledge message " + message.msgId() +
                   ", error read: " + error.generateMessage());
        });
}

std::string ChannelerHandler::notPassedUp(const kelnom::Message& message) {
    // The store keeps what has a route: it still reaches its node by inbox poll.
    const bool kept = !message.pushRoutes().empty();
    return "message " + message.msgId() + " not passed up" + (kept ? ", it stays stored here" : "");
}

void ChannelerHandler::forwardUp(kelnom::Message& message) {
    for (std::size_t i = 0; i < sockets.forwarder_senders.size(); ++i) {
        message.appendOriginNode(settings.node_name);
        send_or_report([&] { sockets.sendUp(i, message, [&] { return notPassedUp(message); }); },
                       [&](const kelnou::Exception& error) {
                           report("We could not send a message UP on forwarder: " +
                                  settings.forwarder_remotes[i]);
                           report("Error read: " + error.generateMessage());
                       });
    }
}

}  // namespace kelnod
