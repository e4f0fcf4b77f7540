#include "Outbox.hpp"

#include <algorithm>

namespace kelnod {

Outbox::Outbox(StoreLimits limits, std::chrono::seconds resend_after, Output errors)
    : limits(limits), resend_after(resend_after), errors(std::move(errors)) {}

void Outbox::restore(const std::vector<DurableStore::ChainMessage>& rows) {
    for (const auto& row : rows) {
        insert(row.sequence, row.message, Clock::time_point::min());
        next_sequence = std::max(next_sequence, row.sequence + 1);
    }
    if (!rows.empty()) next_due = Clock::time_point::min();
}

void Outbox::add(const std::shared_ptr<kelnom::Message>& message, bool sent,
                 Clock::time_point now) {
    // A message passed up again under the same id replaces the waiting one.
    auto known = sequence_by_id.find(message->msgId());
    if (known != sequence_by_id.end()) erase(by_sequence.find(known->second));

    const std::uint64_t sequence = next_sequence++;
    const Clock::time_point last_sent = sent ? now : Clock::time_point::min();
    insert(sequence, message, last_sent);
    pending_added.emplace(sequence, message);
    next_due = std::min(next_due, sent ? now + resend_after : last_sent);
    applyBounds(message->msgId());
}

bool Outbox::acknowledged(const std::string& message_id) {
    auto known = sequence_by_id.find(message_id);
    if (known == sequence_by_id.end()) return false;
    erase(by_sequence.find(known->second));
    return true;
}

void Outbox::allDue() {
    for (auto& [sequence, entry] : by_sequence) entry.last_sent = Clock::time_point::min();
    if (!by_sequence.empty()) next_due = Clock::time_point::min();
}

void Outbox::resendDue(Clock::time_point now, const Send& send) {
    if (now < next_due) return;
    Clock::time_point earliest = Clock::time_point::max();
    bool stopped = false;
    for (auto& [sequence, entry] : by_sequence) {
        const bool due =
            entry.last_sent == Clock::time_point::min() || now - entry.last_sent >= resend_after;
        if (due && !stopped) {
            if (send(*entry.message)) {
                entry.last_sent = now;
            } else {
                // The queue is full or the link went: the rest waits its turn,
                // so the first-sent order holds.
                stopped = true;
            }
        }
        if (entry.last_sent == Clock::time_point::min() || (due && stopped)) {
            earliest = Clock::time_point::min();
        } else {
            earliest = std::min(earliest, entry.last_sent + resend_after);
        }
    }
    next_due = earliest;
}

void Outbox::insert(std::uint64_t sequence, const std::shared_ptr<kelnom::Message>& message,
                    Clock::time_point last_sent) {
    by_sequence.emplace(sequence, Entry{message, last_sent});
    sequence_by_id[message->msgId()] = sequence;
    payload_bytes += message->payload().size();
}

void Outbox::erase(std::map<std::uint64_t, Entry>::iterator entry) {
    const std::uint64_t sequence = entry->first;
    payload_bytes -= entry->second.message->payload().size();
    sequence_by_id.erase(entry->second.message->msgId());
    by_sequence.erase(entry);
    if (pending_added.erase(sequence) == 0) pending_removed.push_back(sequence);
}

bool Outbox::overBounds() const {
    return (limits.max_messages != 0 && by_sequence.size() > limits.max_messages) ||
           (limits.max_bytes != 0 && payload_bytes > limits.max_bytes);
}

void Outbox::applyBounds(const std::string& newest_id) {
    std::uint64_t dropped = 0;
    while (overBounds() && !by_sequence.empty()) {
        erase(by_sequence.begin());
        ++dropped;
    }
    if (dropped == 0) {
        if (bound_episode) {
            errors("outbox keeps what it passes up without drops again, " +
                   std::to_string(episode_drops) + " unacknowledged messages dropped by its bounds");
            bound_episode = false;
            episode_drops = 0;
        }
        return;
    }
    bound_drops += dropped;
    episode_drops += dropped;
    if (bound_episode) return;
    bound_episode = true;
    errors("outbox full: the oldest messages the upstream node has not acknowledged go to make "
           "room for message " +
           newest_id +
           " (kelno.store.max_messages, kelno.store.max_bytes); further drops are counted until "
           "one is kept without");
}

bool Outbox::hasPendingWrites() const {
    return !pending_added.empty() || !pending_removed.empty();
}

void Outbox::writePending(DurableStore& file) {
    for (const auto sequence : pending_removed) {
        file.removeChainMessage(DurableStore::ChainTable::outbox, sequence);
    }
    for (const auto& [sequence, message] : pending_added) {
        file.insertChainMessage(DurableStore::ChainTable::outbox, sequence, *message);
    }
}

void Outbox::forgetPendingWrites() {
    pending_added.clear();
    pending_removed.clear();
}

void Outbox::writeAll(DurableStore& file) {
    for (const auto& [sequence, entry] : by_sequence) {
        file.insertChainMessage(DurableStore::ChainTable::outbox, sequence, *entry.message);
    }
}

}  // namespace kelnod
