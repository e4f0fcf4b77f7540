#include "ForwarderHandler.hpp"

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Receiver.hpp>

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
    auto request = receiver.receive();
    forwarder->flushMessage();  // frames after the request's end are not a request
    const std::size_t upstream = sockets.forwarderIndex(forwarder);

    if (auto* ack = dynamic_cast<Ack*>(request.get())) {
        // The upstream node has what we passed up.
        store.removeAcknowledged(ack->messageId());
    } else if (auto* message = dynamic_cast<kelnom::Message*>(request.get())) {
        // A message kept upstream for this node: confirm it so the upstream node
        // drops its copy, then deliver it here. It ends its journey here. When
        // the confirmation cannot go out, the upstream node keeps its copy and
        // hands it over again at a later poll; publishing it now would deliver
        // it twice.
        const bool confirmed = sockets.sendUp(upstream, message->generate_ack(), [&] {
            return "acknowledgement of message " + message->msgId() +
                   " dropped, it comes down again at a later poll";
        });
        if (confirmed) publish_locally(sockets.broadcaster_sender, *message);
    } else if (dynamic_cast<GetRegistry*>(request.get()) != nullptr) {
        say("Get reg on forwarder");
        sockets.sendUp(upstream, registry.reply(),
                       [] { return std::string("registry reply dropped"); });
    }
}

}  // namespace kelnod
