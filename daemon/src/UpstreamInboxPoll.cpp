#include "UpstreamInboxPoll.hpp"

#include <kelnom/Inbox.hpp>

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
    if (!sockets.upstream || !sockets.upstream->connected()) return;
    auto now = Clock::now();
    if (now < last_poll + interval) return;
    last_poll = now;
    // An unreachable upstream is retried at the next interval.
    sockets.up(Inbox(node_name, InboxType::Node), Cargo::inbox_poll);
}

void UpstreamInboxPoll::dueNow() { last_poll = Clock::now() - interval; }

}  // namespace kelnod
