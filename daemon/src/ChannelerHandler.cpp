#include "ChannelerHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnou/Exception.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::internal_objects::Ack;
using kelnom::internal_objects::GetRegistry;
using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::Request;

ChannelerHandler::ChannelerHandler(const Settings& settings, NodeSockets& sockets,
                                   MessageStore& store, NodeRegistry& registry)
    : settings(settings), sockets(sockets), store(store), registry(registry) {}

void ChannelerHandler::operator()(cplt::Socket*) {
    std::string route;
    std::unique_ptr<Request> request =
        kelnou::with_context("While receiving request on channeler", [&] {
            auto& receiver = sockets.channeler_receiver;
            receiver.readFrame();
            route = receiver.frameText();
            receiver.expectMore("");
            auto received = receiver.receive();
            // One ZeroMQ message is one request. Frames after its end would be
            // read as the next request, with a route of the peer's choosing.
            receiver.getSocket()->flushMessage();
            return received;
        });

    if (auto* ack = dynamic_cast<Ack*>(request.get())) {
        handleAck(*ack);
    } else if (auto* message = dynamic_cast<kelnom::Message*>(request.get())) {
        request.release();
        handleMessage(std::unique_ptr<kelnom::Message>(message), route);
    } else if (auto* inbox = dynamic_cast<Inbox*>(request.get())) {
        handleInbox(*inbox, route);
    } else if (dynamic_cast<GetRegistry*>(request.get()) != nullptr) {
        handleGetRegistry(route);
    }
    // Anything else (a registry reply sent to us, ...) is dropped silently.
}

void ChannelerHandler::handleAck(const Ack& ack) { store.removeAcknowledged(ack.messageId()); }

void ChannelerHandler::handleGetRegistry(const std::string& route) {
    say("Get reg on channeler");
    sockets.sendToPeer(registry.reply(), route,
                       [] { return std::string("registry reply dropped"); });
}

}  // namespace kelnod
