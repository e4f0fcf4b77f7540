#include "ForwarderHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

#include "Console.hpp"
#include "Publish.hpp"

namespace kelnod {

using kelnom::internal_objects::Ack;
using kelnom::internal_objects::GetRegistry;

ForwarderHandler::ForwarderHandler(NodeSockets& sockets, MessageStore& store,
                                   NodeRegistry& registry)
    : sockets(sockets), store(store), registry(registry) {}

void ForwarderHandler::operator()(cplt::Socket* forwarder) {
    kelnom::Receiver receiver(forwarder);
    kelnom::Sender upstream(forwarder);
    auto request = receiver.receive();
    forwarder->flushMessage();  // frames after the request's end are not a request

    if (auto* ack = dynamic_cast<Ack*>(request.get())) {
        // The upstream node has what we passed up.
        store.removeAcknowledged(ack->messageId());
    } else if (auto* message = dynamic_cast<kelnom::Message*>(request.get())) {
        // A message kept upstream for this node: confirm it so the upstream node
        // drops its copy, then deliver it here. It ends its journey here.
        upstream.send(message->generate_ack(), nullptr);
        publish_locally(sockets.broadcaster_sender, *message);
    } else if (dynamic_cast<GetRegistry*>(request.get()) != nullptr) {
        say("Get reg on forwarder");
        upstream.send(registry.reply(), nullptr);
    }
}

}  // namespace kelnod
