#include "UpstreamInboxPoll.hpp"

#include <algorithm>

#include <kelnom/Inbox.hpp>

namespace kelnod {

using kelnom::internal_objects::Inbox;
using kelnom::internal_objects::InboxType;

UpstreamInboxPoll::UpstreamInboxPoll(std::string node_name, std::chrono::seconds interval,
                                     NodeSockets& sockets, bool reliable)
    : node_name(std::move(node_name)), interval(interval), sockets(sockets), reliable(reliable) {
    names[this->node_name] = Name{Clock::now(), Clock::time_point::max()};
}

void UpstreamInboxPoll::sendWhenDue() {
    if (!sockets.upstream || !sockets.upstream->connected()) return;
    const auto now = Clock::now();
    if (now < earliest_poll) return;
    if (reliable) forgetStaleNames(now);
    earliest_poll = Clock::time_point::max();
    for (auto& [name, state] : names) {
        if (now >= state.next_poll) {
            state.next_poll = now + interval;
            // An unreachable upstream is retried at the next interval.
            sockets.up(Inbox(name, InboxType::Node), Cargo::inbox_poll);
        }
        earliest_poll = std::min(earliest_poll, state.next_poll);
    }
}

void UpstreamInboxPoll::dueNow() {
    const auto now = Clock::now();
    for (auto& entry : names) entry.second.next_poll = now;
    earliest_poll = now;
}

void UpstreamInboxPoll::polledFromBelow(const std::string& name) {
    if (!reliable || name == node_name) return;
    const auto now = Clock::now();
    auto known = names.find(name);
    if (known != names.end()) {
        known->second.last_polled_from_below = now;
        return;
    }
    if (names.size() > _most_names) {
        auto least_recent = names.end();
        for (auto entry = names.begin(); entry != names.end(); ++entry) {
            if (entry->first == node_name) continue;
            if (least_recent == names.end() || entry->second.last_polled_from_below <
                                                   least_recent->second.last_polled_from_below) {
                least_recent = entry;
            }
        }
        names.erase(least_recent);
    }
    names[name] = Name{now, now};
    earliest_poll = now;
}

void UpstreamInboxPoll::broughtMessage(const std::string& name) {
    if (!reliable) return;
    auto known = names.find(name);
    if (known == names.end()) return;
    known->second.next_poll = Clock::time_point::min();
    earliest_poll = Clock::time_point::min();
}

void UpstreamInboxPoll::forgetStaleNames(Clock::time_point now) {
    for (auto entry = names.begin(); entry != names.end();) {
        const bool stale = entry->first != node_name &&
                           now - entry->second.last_polled_from_below > _name_kept_for;
        entry = stale ? names.erase(entry) : std::next(entry);
    }
}

}  // namespace kelnod
