// The channeler's handling of an inbox poll: note a polling node in the
// registry, then hand over one kept message for the polled name.
#include "ChannelerHandler.hpp"

#include "Console.hpp"

namespace kelnod {

using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;

void ChannelerHandler::handleInbox(const Inbox& inbox, const std::string& route) {
    say("Received BOX");
    ++node.stats.inbox_polls_received;
    if (inbox.type() == InboxType::Node) {
        node.registry.recordPollFrom(route);
        say(node.registry.text());
        node.upstream_poll.polledFromBelow(inbox.appId());
    }

    auto message = node.store.firstFor(inbox.appId());
    if (!message) return;
    say("We have an inboxed message: " + message->msgId());
    // It stays kept: the next poll gets it again until it is acknowledged.
    if (node.sockets.toPeer(port, route, *message, Cargo::handover, message->msgId()) ==
        SendOutcome::sent) {
        ++node.stats.inbox_polls_answered;
    }
}

}  // namespace kelnod
