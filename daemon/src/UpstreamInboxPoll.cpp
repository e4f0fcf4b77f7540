#include "UpstreamInboxPoll.hpp"

#include <kelnom/Inbox.hpp>

#include "Console.hpp"

namespace kelnod {

using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;

UpstreamInboxPoll::UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval,
                                     std::vector<kelnom::Sender>& forwarder_senders,
                                     const std::vector<std::string>& forwarder_remotes)
    : node_name(std::move(node_name)),
      interval(interval),
      last_poll(Clock::now() - this->interval),
      forwarder_senders(forwarder_senders),
      forwarder_remotes(forwarder_remotes) {}

void UpstreamInboxPoll::sendWhenDue() {
    auto now = Clock::now();
    if (now < last_poll + interval) return;
    last_poll = now;
    sendPoll();
}

void UpstreamInboxPoll::sendPoll() {
    Inbox poll(node_name, InboxType::Node);
    for (std::size_t i = 0; i < forwarder_senders.size(); ++i) {
        // An unreachable upstream is retried at the next interval.
        send_or_report([&] { forwarder_senders[i].send(poll, nullptr); },
                       [&](const kelnou::Exception& error) {
                           report("We could not send an inbox request UP on forwarder: " +
                                  forwarder_remotes[i]);
                           report("Error read: " + error.generateMessage());
                       });
    }
}

}  // namespace kelnod
