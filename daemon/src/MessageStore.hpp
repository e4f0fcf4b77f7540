#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <kelnom/Message.hpp>

namespace kelnod {

// A moment on the wall clock in milliseconds since the epoch, 64-bit on every
// target (time_t is 32 bits on the 32-bit ARM builds). Wall time, not steady
// time, because a message's arrival is written to the store file and must
// mean the same after a restart.
using WallTime = std::chrono::time_point<std::chrono::system_clock,
                                         std::chrono::duration<std::int64_t, std::milli>>;
WallTime wall_now();

// Bounds of the store; zero means "no bound". Without any, the store keeps
// everything until it is acknowledged, as it always has.
struct StoreLimits {
    std::uint64_t max_messages = 0;
    std::uint64_t max_bytes = 0;  // payload bytes of all kept messages
    bool expire = false;          // remove a message once its validity has run out
};

// Messages that the store let go instead of keeping, per reason, since start.
struct StoreDrops {
    std::uint64_t over_max_messages = 0;  // oldest removed to make room (message bound)
    std::uint64_t over_max_bytes = 0;     // oldest removed to make room (byte bound)
    std::uint64_t too_large = 0;          // payload alone above max_bytes: not kept
    std::uint64_t expired = 0;            // validity run out
};

// One kept message with what the store knows of it.
struct KeptEntry {
    std::shared_ptr<kelnom::Message> message;
    // Order of arrival: unique, growing, never reused (also across restarts,
    // through the store file). The oldest message is the one with the smallest.
    std::uint64_t sequence;
    WallTime arrival;   // when this node received it
    WallTime deadline;  // when it expires; WallTime::max() when it never does
    std::uint32_t payload_bytes;
};

// Messages kept for inbox polls: route name -> message id -> message, both
// levels in byte order. A message stays until an acknowledgement names it, or,
// with limits, until a bound or its validity makes it go.
//
// Validity: with `expire`, a message expires at arrival + validity (saturated:
// a validity too large to add never expires). A validity of 0 or less means
// "no time limit": such a message never expires (the bounds still apply).
class MessageStore {
public:
    // Told of every change, so that a file can follow the store. `kept` comes
    // after the entry is in place; `removed` for every way an entry goes
    // (acknowledgement, replacement, bound, expiry).
    class Journal {
    public:
        virtual void kept(const KeptEntry& entry) = 0;
        virtual void removed(std::uint64_t sequence) = 0;

    protected:
        ~Journal() = default;
    };

    // What one keep did.
    struct KeepOutcome {
        bool kept = false;          // false: no push route, too large, or expired
        bool too_large = false;     // its payload alone is above max_bytes
        std::uint64_t evicted = 0;  // older messages removed to make room
    };

    explicit MessageStore(StoreLimits limits = {}) : limits(limits) {}
    // The index points into the maps' nodes: a copy's would point into ours.
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;
    MessageStore(MessageStore&&) = default;  // nodes stay where they are
    MessageStore& operator=(MessageStore&&) = default;

    // Null for none; the journal must outlive the store or be unset first.
    void setJournal(Journal* journal) { this->journal = journal; }
    const StoreLimits& storeLimits() const { return limits; }

    // Keeps the message under its first push route (replacing one with the same
    // id there: the new one counts as a new arrival); a message without push
    // routes is not kept. With bounds, the oldest messages go until the new one
    // fits; one whose payload alone is above max_bytes is not kept, and the
    // others stay.
    KeepOutcome keep(const std::shared_ptr<kelnom::Message>& message, WallTime now = wall_now());

    // Puts back a message read from the store file, with its own sequence and
    // arrival, as keep does otherwise (bounds apply; expired ones are not put
    // back but reported removed to the journal). In increasing sequence order.
    KeepOutcome restore(const std::shared_ptr<kelnom::Message>& message, std::uint64_t sequence,
                        WallTime arrival, WallTime now);

    // Removes the first message, in store order, whose id is `message_id`.
    // False when none matched. Takes time logarithmic in the store's size.
    bool removeAcknowledged(const std::string& message_id);

    // The message with the smallest id kept under `route_name` that has not
    // expired at `now`, or null. A name with nothing kept is added with no
    // messages, and stays. Expired messages are skipped, not removed (that is
    // expireDue's work).
    std::shared_ptr<kelnom::Message> firstFor(const std::string& route_name,
                                              WallTime now = wall_now());

    // True when `route_name` has an entry, even one whose messages are all gone.
    bool hasEntryFor(const std::string& route_name) const;

    // Removes every message expired at `now` (none without `expire`); how many.
    std::uint64_t expireDue(WallTime now);

    std::uint64_t size() const { return by_sequence.size(); }
    std::uint64_t payloadBytes() const { return payload_bytes; }
    const StoreDrops& drops() const { return drop_counts; }
    // The sequence the next keep gets.
    std::uint64_t nextSequence() const { return next_sequence; }

    // Every kept message, oldest first.
    void visitInArrivalOrder(const std::function<void(const KeptEntry&)>& visit) const;

    // A message id as the key of an ordered map: its first eight bytes as a
    // big-endian number beside the text. Most comparisons in a walk down a
    // large tree are decided by the number, held in the node, without a trip
    // to the text's buffer elsewhere in memory. Orders exactly as the bytes do.
    struct IdKey {
        explicit IdKey(std::string id);
        std::uint64_t prefix;
        std::string text;
    };
    // The same for a lookup, without copying the id.
    struct IdProbe {
        explicit IdProbe(std::string_view id);
        std::uint64_t prefix;
        std::string_view text;
    };
    struct IdOrder {
        using is_transparent = void;
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            if (a.prefix != b.prefix) return a.prefix < b.prefix;
            return std::string_view(a.text) < std::string_view(b.text);
        }
    };

private:
    using MessagesById = std::map<IdKey, KeptEntry, IdOrder>;

    // Where a message with a given id is kept: the route's name and messages,
    // and its entry there (valid until that entry is erased).
    struct Place {
        const std::string* route_name;
        MessagesById* messages;
        MessagesById::iterator entry;
    };

    KeepOutcome put(const std::shared_ptr<kelnom::Message>& message, std::uint64_t sequence,
                    WallTime arrival, WallTime now, bool tell_journal);
    WallTime deadlineOf(const kelnom::Message& message, WallTime arrival) const;
    // Removes the entry at `place` from every index and tells the journal.
    void erase(Place place);

    StoreLimits limits;
    Journal* journal = nullptr;

    // Entries are never removed, so the names and maps here stay where they are.
    std::map<std::string, MessagesById, std::less<>> messages_by_route;

    // Index for acknowledgements: message id -> the places that keep a message
    // with that id, by route name ascending. Exactly the (route name, id) pairs
    // kept above, so the first place is the first match in store order, and
    // removing it needs no second search. Ordered rather than hashed: ids come
    // from peers and must not be able to degrade the lookup by colliding.
    std::map<IdKey, std::vector<Place>, IdOrder> places_by_id;

    // Every kept message by arrival: the first is the one a bound removes.
    std::map<std::uint64_t, Place> by_sequence;
    // Messages that expire, by (deadline, sequence); only with `expire`.
    std::set<std::pair<std::int64_t, std::uint64_t>> by_deadline;

    std::uint64_t payload_bytes = 0;
    std::uint64_t next_sequence = 1;
    StoreDrops drop_counts;
};

}  // namespace kelnod
