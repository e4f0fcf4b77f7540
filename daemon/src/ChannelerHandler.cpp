#include "ChannelerHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnou/Exception.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::RequestKind;
using kelnom::internal_objects::Ack;
using kelnom::internal_objects::Inbox;

ChannelerHandler::ChannelerHandler(NodeParts& parts, PeerPort& port)
    : settings(parts.settings),
      sockets(parts.sockets),
      port(port),
      store(parts.store),
      registry(parts.registry),
      receipts(parts.receipts),
      publications(parts.publications),
      upstream_poll(parts.upstream_poll),
      stats(parts.stats),
      chain(parts.chain) {}

void ChannelerHandler::operator()(cplt::Socket*) {
    kelnom::RoutedRequest received =
        kelnou::with_context("While receiving request on channeler",
                             [&] { return port.receiver.receiveRouted(); });

    auto& request = *received.request;
    switch (request.kind()) {
        case RequestKind::Ack:
            handleAck(static_cast<const Ack&>(request));
            return;
        case RequestKind::Message:
            handleMessage(std::unique_ptr<kelnom::Message>(
                              static_cast<kelnom::Message*>(received.request.release())),
                          received.peer);
            return;
        case RequestKind::Inbox:
            handleInbox(static_cast<const Inbox&>(request), received.peer);
            return;
        case RequestKind::GetRegistry:
            handleGetRegistry(received.peer);
            return;
        case RequestKind::Registry:
            return;  // a registry reply sent to us means nothing here
    }
}

void ChannelerHandler::handleAck(const Ack& ack) {
    ++stats.acknowledgements_received;
    store.removeAcknowledged(ack.messageId());
}

void ChannelerHandler::handleGetRegistry(const std::string& route) {
    say("Get reg on channeler");
    sockets.toPeer(port, route, registry.reply(), Cargo::registry_reply);
}

}  // namespace kelnod
