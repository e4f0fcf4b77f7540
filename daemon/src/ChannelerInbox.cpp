// The channeler's handling of an inbox poll: note a polling node in the
// registry, then hand over one kept message for the polled name.
#include "ChannelerHandler.hpp"

#include "Console.hpp"

namespace kelnod {

using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;

void ChannelerHandler::handleInbox(const Inbox& inbox, const std::string& route) {
    say("Received BOX");
    ++stats.inbox_polls_received;
    if (inbox.type() == InboxType::Node) {
        registry.recordPollFrom(route);
        say(registry.text());
        upstream_poll.polledFromBelow(inbox.appId());
    }

    auto message = store.firstFor(inbox.appId());
    if (!message) return;
    say("We have an inboxed message: " + message->msgId());
    // It stays kept: the next poll gets it again until it is acknowledged.
    if (sockets.toPeer(port, route, *message, Cargo::handover, message->msgId()) ==
        SendOutcome::sent) {
        ++stats.inbox_polls_answered;
    }
}

}  // namespace kelnod
