#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <kelnom/Message.hpp>

#include "KeptMessages.hpp"

namespace kelnod {

// The messages a reliable node has passed up and its upstream node has not
// acknowledged yet (kelno.chain.reliable). Each stays until the upstream's
// receipt names it; what is still waiting goes up again once the link comes
// back, or once it has waited `resend_after` since it was last sent, in the
// order it was first passed up. A copy that arrives twice upstream is
// dropped there by its window of accepted ids.
//
// The store's bounds apply to the outbox on their own: beyond
// kelno.store.max_messages or .max_bytes the oldest waiting message goes,
// counted and reported once per episode. With a store file the outbox is
// written in the wake-up's transaction, so it survives a restart; what the
// file held is due at once after the start.
class Outbox : public KeptMessages::FileFollower {
public:
    using Clock = std::chrono::steady_clock;
    using Output = KeptMessages::Output;
    // Sends one message up; false when it did not go (the rest then waits).
    using Send = std::function<bool(const kelnom::Message&)>;

    Outbox(StoreLimits limits, std::chrono::seconds resend_after, Output errors);

    // Puts back what the store file held, in its order; due at once.
    void restore(const std::vector<DurableStore::ChainMessage>& rows);

    // A message passed up now (`sent`), or to be (the link is down: due at once).
    void add(const std::shared_ptr<kelnom::Message>& message, bool sent, Clock::time_point now);
    // The upstream's receipt: true when the message was waiting here.
    bool acknowledged(const std::string& message_id);
    // Everything waiting is due now: the link has just come back.
    void allDue();
    // Sends what is due, oldest first, until `send` says false.
    void resendDue(Clock::time_point now, const Send& send);

    std::uint64_t size() const { return by_sequence.size(); }
    std::uint64_t payloadBytes() const { return payload_bytes; }
    // Waiting messages that the bounds removed, since start.
    std::uint64_t boundDrops() const { return bound_drops; }

    // KeptMessages::FileFollower
    bool hasPendingWrites() const override;
    bool pendingWritesNeedFlush() const override { return !pending_added.empty(); }
    void writePending(DurableStore& file) override;
    void forgetPendingWrites() override;
    void writeAll(DurableStore& file) override;

private:
    struct Entry {
        std::shared_ptr<kelnom::Message> message;
        Clock::time_point last_sent;  // min(): due at once
    };

    void insert(std::uint64_t sequence, const std::shared_ptr<kelnom::Message>& message,
                Clock::time_point last_sent);
    void erase(std::map<std::uint64_t, Entry>::iterator entry);
    void applyBounds(const std::string& newest_id);
    bool overBounds() const;

    StoreLimits limits;
    Clock::duration resend_after;
    Output errors;

    std::map<std::uint64_t, Entry> by_sequence;  // first-passed-up order
    std::map<std::string, std::uint64_t, std::less<>> sequence_by_id;
    std::uint64_t next_sequence = 1;
    std::uint64_t payload_bytes = 0;
    // No entry is due before this (an entry's last send plus resend_after).
    Clock::time_point next_due = Clock::time_point::max();

    // Changes since the last commit: a message added and acknowledged within
    // one batch is never written.
    std::map<std::uint64_t, std::shared_ptr<kelnom::Message>> pending_added;
    std::vector<std::uint64_t> pending_removed;

    bool bound_episode = false;
    std::uint64_t bound_drops = 0;
    std::uint64_t episode_drops = 0;
};

}  // namespace kelnod
