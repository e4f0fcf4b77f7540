#include "ForwarderHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Message.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::RequestKind;
using kelnom::internal_objects::Ack;

ForwarderHandler::ForwarderHandler(NodeParts& node)
    : node(node), delivered(_remembered_deliveries) {}

void ForwarderHandler::operator()(cplt::Socket*) {
    auto request = node.sockets.upstream->receiver.receive();
    ++node.stats.upstream_requests;
    switch (request->kind()) {
        case RequestKind::Ack:
            handleAck(static_cast<const Ack&>(*request).messageId());
            return;
        case RequestKind::Message:
            if (node.chain) {
                handleReliably(std::shared_ptr<kelnom::Message>(
                    static_cast<kelnom::Message*>(request.release())));
            } else {
                handleMessage(static_cast<const kelnom::Message&>(*request));
            }
            return;
        case RequestKind::GetRegistry:
            say("Get reg on forwarder");
            node.sockets.up(node.registry.reply(), Cargo::registry_reply);
            return;
        case RequestKind::Inbox:
        case RequestKind::Registry:
            return;
    }
}

void ForwarderHandler::handleAck(const std::string& message_id) {
    // The upstream node has what we passed up.
    ++node.stats.upstream_acknowledgements;
    if (!node.chain) {
        node.store.removeAcknowledged(message_id);
        return;
    }
    // Only the receipt that ends a wait removes the copy kept here: a later
    // one, for a resent copy, might otherwise take the copy of the same
    // message that has come down since for a node below.
    if (node.chain->outbox.acknowledged(message_id)) node.store.removeAcknowledged(message_id);
}

void ForwarderHandler::handleReliably(const std::shared_ptr<kelnom::Message>& message) {
    ++node.stats.messages_from_upstream;
    // The upstream node has the message if it hands it down: that ends the
    // outbox's wait as its receipt would, so that a receipt for a resent copy
    // arriving later cannot take the copy kept below from now on.
    node.chain->outbox.acknowledged(message->msgId());
    const auto& routes = message->pushRoutes();
    const std::string& name = routes.empty() ? node.settings.node_name : routes.front();
    node.upstream_poll.broughtMessage(name);
    if (name == node.settings.node_name) {
        if (node.chain->accepted.contains(message->msgId())) {
            ++node.stats.drops.duplicate;
        } else {
            node.chain->accepted.accept(message->msgId());
            node.publications.publish(message);
        }
    } else {
        // For a node below: it waits here for that node's poll. A copy that
        // comes down again replaces the kept one.
        node.store.keep(message);
    }
    node.receipts.acknowledgeUp(message->msgId());
}

void ForwarderHandler::handleMessage(const kelnom::Message& message) {
    // A message kept upstream for this node: confirm it so the upstream node
    // drops its copy, then deliver it here. It ends its journey here. When
    // the confirmation cannot go out, the upstream node keeps its copy and
    // hands it over again at a later poll; publishing it now would deliver
    // it twice. Every copy is confirmed, but only the first is published.
    ++node.stats.messages_from_upstream;
    const SendOutcome confirmed =
        node.sockets.up(message.generate_ack(), Cargo::down_receipt, message.msgId());
    if (confirmed != SendOutcome::sent) return;
    if (!delivered.insert(message.msgId())) {
        ++node.stats.drops.duplicate;
        return;
    }
    if (published(node.sockets.publish(message))) ++node.stats.messages_published;
}

}  // namespace kelnod
