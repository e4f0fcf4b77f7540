#include "ForwarderHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Message.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::RequestKind;
using kelnom::internal_objects::Ack;

ForwarderHandler::ForwarderHandler(NodeSockets& sockets, KeptMessages& store,
                                   NodeRegistry& registry, NodeStats& stats)
    : sockets(sockets),
      store(store),
      registry(registry),
      stats(stats),
      delivered(_remembered_deliveries) {}

void ForwarderHandler::operator()(cplt::Socket*) {
    auto request = sockets.upstream->receiver.receive();
    ++stats.upstream_requests;
    switch (request->kind()) {
        case RequestKind::Ack:
            // The upstream node has what we passed up.
            ++stats.upstream_acknowledgements;
            store.removeAcknowledged(static_cast<const Ack&>(*request).messageId());
            return;
        case RequestKind::Message:
            handleMessage(static_cast<const kelnom::Message&>(*request));
            return;
        case RequestKind::GetRegistry:
            say("Get reg on forwarder");
            sockets.up(registry.reply(), Cargo::registry_reply);
            return;
        case RequestKind::Inbox:
        case RequestKind::Registry:
            return;
    }
}

void ForwarderHandler::handleMessage(const kelnom::Message& message) {
    // A message kept upstream for this node: confirm it so the upstream node
    // drops its copy, then deliver it here. It ends its journey here. When
    // the confirmation cannot go out, the upstream node keeps its copy and
    // hands it over again at a later poll; publishing it now would deliver
    // it twice. Every copy is confirmed, but only the first is published.
    ++stats.messages_from_upstream;
    const SendOutcome confirmed =
        sockets.up(message.generate_ack(), Cargo::down_receipt, message.msgId());
    if (confirmed != SendOutcome::sent) return;
    if (!delivered.insert(message.msgId())) {
        ++stats.drops.duplicate;
        return;
    }
    if (published(sockets.publish(message))) ++stats.messages_published;
}

}  // namespace kelnod
