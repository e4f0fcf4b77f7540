#include "ForwarderHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Message.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::RequestKind;
using kelnom::internal_objects::Ack;

ForwarderHandler::ForwarderHandler(NodeParts& parts)
    : settings(parts.settings),
      sockets(parts.sockets),
      store(parts.store),
      registry(parts.registry),
      receipts(parts.receipts),
      publications(parts.publications),
      upstream_poll(parts.upstream_poll),
      stats(parts.stats),
      chain(parts.chain),
      delivered(_remembered_deliveries) {}

void ForwarderHandler::operator()(cplt::Socket*) {
    auto request = sockets.upstream->receiver.receive();
    ++stats.upstream_requests;
    switch (request->kind()) {
        case RequestKind::Ack:
            handleAck(static_cast<const Ack&>(*request).messageId());
            return;
        case RequestKind::Message:
            if (chain) {
                handleReliably(std::shared_ptr<kelnom::Message>(
                    static_cast<kelnom::Message*>(request.release())));
            } else {
                handleMessage(static_cast<const kelnom::Message&>(*request));
            }
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

void ForwarderHandler::handleAck(const std::string& message_id) {
    // The upstream node has what we passed up.
    ++stats.upstream_acknowledgements;
    if (!chain) {
        store.removeAcknowledged(message_id);
        return;
    }
    // Only the receipt that ends a wait removes the copy kept here: a later
    // one, for a resent copy, might otherwise take the copy of the same
    // message that has come down since for a node below.
    if (chain->outbox.acknowledged(message_id)) store.removeAcknowledged(message_id);
}

void ForwarderHandler::handleReliably(const std::shared_ptr<kelnom::Message>& message) {
    ++stats.messages_from_upstream;
    const auto& routes = message->pushRoutes();
    const std::string& name = routes.empty() ? settings.node_name : routes.front();
    upstream_poll.broughtMessage(name);
    if (name == settings.node_name) {
        if (chain->accepted.contains(message->msgId())) {
            ++stats.drops.duplicate;
        } else {
            chain->accepted.accept(message->msgId());
            publications.publish(message);
        }
    } else {
        // For a node below: it waits here for that node's poll. A copy that
        // comes down again replaces the kept one.
        store.keep(message);
    }
    receipts.acknowledgeUp(message->msgId());
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
