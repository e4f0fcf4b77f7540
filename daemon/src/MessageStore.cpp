#include "MessageStore.hpp"

#include <algorithm>

namespace kelnod {

namespace {

// The first eight bytes, big-endian, zero-padded: numbers compare as the
// bytes do, and ties (equal first bytes) are settled by the whole text.
std::uint64_t leading_bytes(std::string_view text) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const auto byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
        prefix = (prefix << 8) | byte;
    }
    return prefix;
}

bool expired_at(const KeptEntry& entry, WallTime now) { return now >= entry.deadline; }

}  // namespace

WallTime wall_now() {
    return std::chrono::time_point_cast<WallTime::duration>(std::chrono::system_clock::now());
}

MessageStore::IdKey::IdKey(std::string id) : prefix(leading_bytes(id)), text(std::move(id)) {}

MessageStore::IdProbe::IdProbe(std::string_view id) : prefix(leading_bytes(id)), text(id) {}

// A kept message's id never changes in the daemon (it is made once by the
// sending client), so the key it is filed under stays its own id.

MessageStore::KeepOutcome MessageStore::keep(const std::shared_ptr<kelnom::Message>& message,
                                             WallTime now) {
    return put(message, next_sequence, now, now, true);
}

MessageStore::KeepOutcome MessageStore::restore(const std::shared_ptr<kelnom::Message>& message,
                                                std::uint64_t sequence, WallTime arrival,
                                                WallTime now) {
    const KeepOutcome outcome = put(message, sequence, arrival, now, false);
    // What is not put back must leave the file too.
    if (!outcome.kept && journal != nullptr) journal->removed(sequence);
    return outcome;
}

// The deadline in 64-bit milliseconds, saturated: a validity from the wire may
// be anything a signed 64-bit count of seconds holds.
WallTime MessageStore::deadlineOf(const kelnom::Message& message, WallTime arrival) const {
    const std::int64_t seconds = message.validFor().count();
    if (!limits.expire || seconds <= 0) return WallTime::max();
    std::int64_t millis = 0;
    std::int64_t deadline = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000}, &millis) ||
        __builtin_add_overflow(arrival.time_since_epoch().count(), millis, &deadline)) {
        return WallTime::max();
    }
    return WallTime(WallTime::duration(deadline));
}

MessageStore::KeepOutcome MessageStore::put(const std::shared_ptr<kelnom::Message>& message,
                                            std::uint64_t sequence, WallTime arrival, WallTime now,
                                            bool tell_journal) {
    KeepOutcome outcome;
    const auto& routes = message->pushRoutes();
    if (routes.empty()) return outcome;
    next_sequence = std::max(next_sequence, sequence + 1);

    const std::uint32_t size = message->payload().size();
    if (limits.max_bytes != 0 && size > limits.max_bytes) {
        ++drop_counts.too_large;
        outcome.too_large = true;
        return outcome;
    }
    const WallTime deadline = deadlineOf(*message, arrival);
    if (now >= deadline) {
        ++drop_counts.expired;
        return outcome;
    }

    const std::string& message_id = message->msgId();
    auto route = messages_by_route.try_emplace(routes.front()).first;
    MessagesById& messages = route->second;
    // A replaced message goes as if acknowledged; the new one is a new arrival.
    if (auto same = messages.find(IdProbe(message_id)); same != messages.end()) {
        erase(Place{&route->first, &messages, same});
    }

    while (limits.max_messages != 0 && by_sequence.size() >= limits.max_messages) {
        erase(by_sequence.begin()->second);
        ++drop_counts.over_max_messages;
        ++outcome.evicted;
    }
    while (limits.max_bytes != 0 && payload_bytes + size > limits.max_bytes) {
        erase(by_sequence.begin()->second);
        ++drop_counts.over_max_bytes;
        ++outcome.evicted;
    }

    const auto entry =
        messages.emplace(IdKey(message_id), KeptEntry{message, sequence, arrival, deadline, size})
            .first;
    const IdProbe probe(message_id);
    auto indexed = places_by_id.lower_bound(probe);
    if (indexed == places_by_id.end() || places_by_id.key_comp()(probe, indexed->first)) {
        indexed = places_by_id.emplace_hint(indexed, IdKey(message_id), std::vector<Place>{});
    }
    auto& places = indexed->second;
    const auto after = std::upper_bound(
        places.begin(), places.end(), route->first,
        [](const std::string& name, const Place& place) { return name < *place.route_name; });
    const Place place{&route->first, &messages, entry};
    places.insert(after, place);
    by_sequence.emplace(sequence, place);
    if (deadline != WallTime::max()) {
        by_deadline.emplace(deadline.time_since_epoch().count(), sequence);
    }
    payload_bytes += size;

    outcome.kept = true;
    if (tell_journal && journal != nullptr) journal->kept(entry->second);
    return outcome;
}

// By value: the place may be the one held in by_sequence, which goes first.
void MessageStore::erase(const Place place) {
    const KeptEntry& kept = place.entry->second;
    const std::uint64_t sequence = kept.sequence;
    by_sequence.erase(sequence);
    if (kept.deadline != WallTime::max()) {
        by_deadline.erase({kept.deadline.time_since_epoch().count(), sequence});
    }
    payload_bytes -= kept.payload_bytes;

    const auto indexed = places_by_id.find(IdProbe(place.entry->first.text));
    auto& places = indexed->second;
    places.erase(std::find_if(places.begin(), places.end(), [&](const Place& other) {
        return other.route_name == place.route_name;
    }));
    if (places.empty()) places_by_id.erase(indexed);
    // The route's map stays even when this was its last message.
    place.messages->erase(place.entry);
    if (journal != nullptr) journal->removed(sequence);
}

bool MessageStore::removeAcknowledged(const std::string& message_id) {
    const auto indexed = places_by_id.find(IdProbe(message_id));
    if (indexed == places_by_id.end()) return false;
    // Copied: erasing may free the vector that holds it.
    const Place first = indexed->second.front();
    erase(first);
    return true;
}

std::shared_ptr<kelnom::Message> MessageStore::firstFor(const std::string& route_name,
                                                        WallTime now) {
    auto& messages = messages_by_route[route_name];
    for (const auto& [id, kept] : messages) {
        if (!expired_at(kept, now)) return kept.message;
    }
    return nullptr;
}

bool MessageStore::hasEntryFor(const std::string& route_name) const {
    return messages_by_route.count(route_name) != 0;
}

std::uint64_t MessageStore::expireDue(WallTime now) {
    std::uint64_t removed = 0;
    while (!by_deadline.empty() && by_deadline.begin()->first <= now.time_since_epoch().count()) {
        erase(by_sequence.at(by_deadline.begin()->second));
        ++removed;
    }
    drop_counts.expired += removed;
    return removed;
}

void MessageStore::visitInArrivalOrder(const std::function<void(const KeptEntry&)>& visit) const {
    for (const auto& [sequence, place] : by_sequence) visit(place.entry->second);
}

}  // namespace kelnod
