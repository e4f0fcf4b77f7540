#include "UpstreamInboxPoll.hpp"

#include <kelnom/Inbox.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;

UpstreamInboxPoll::UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval,
                                     NodeSockets& sockets)
    : node_name(std::move(node_name)),
      interval(interval),
      last_poll(Clock::now() - this->interval),
      sockets(sockets) {}

void UpstreamInboxPoll::sendWhenDue() {
    auto now = Clock::now();
    if (now < last_poll + interval) return;
    last_poll = now;
    sendPoll();
}

void UpstreamInboxPoll::sendPoll() {
    Inbox poll(node_name, InboxType::Node);
    for (std::size_t i = 0; i < sockets.forwarders.size(); ++i) {
        // An unreachable upstream is retried at the next interval.
        send_or_report(
            [&] { sockets.sendUp(i, poll, [] { return std::string("inbox poll skipped"); }); },
            [&](const kelnou::Exception& error) {
                report("We could not send an inbox request UP on forwarder: " +
                       sockets.forwarderRemote(i));
                report("Error read: " + error.generateMessage());
            });
    }
}

}  // namespace kelnod
