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

}  // namespace

MessageStore::IdKey::IdKey(std::string id) : prefix(leading_bytes(id)), text(std::move(id)) {}

MessageStore::IdProbe::IdProbe(std::string_view id) : prefix(leading_bytes(id)), text(id) {}

// A kept message's id never changes in the daemon (it is made once by the
// sending client), so the key it is filed under stays its own id.

void MessageStore::keep(const std::shared_ptr<kelnom::Message>& message) {
    const auto& routes = message->pushRoutes();
    if (routes.empty()) return;
    const std::string& message_id = message->msgId();
    auto route = messages_by_route.try_emplace(routes.front()).first;
    MessagesById& messages = route->second;

    auto [entry, added] = messages.try_emplace(IdKey(message_id), message);
    if (!added) {
        // Replaced: the pair (route name, id) is indexed already.
        entry->second = message;
        return;
    }

    const IdProbe probe(message_id);
    auto indexed = places_by_id.lower_bound(probe);
    if (indexed == places_by_id.end() || places_by_id.key_comp()(probe, indexed->first)) {
        indexed = places_by_id.emplace_hint(indexed, IdKey(message_id), std::vector<Place>{});
    }
    auto& places = indexed->second;
    const auto after = std::upper_bound(
        places.begin(), places.end(), route->first,
        [](const std::string& name, const Place& place) { return name < *place.route_name; });
    places.insert(after, Place{&route->first, &messages, entry});
}

bool MessageStore::removeAcknowledged(const std::string& message_id) {
    const auto indexed = places_by_id.find(IdProbe(message_id));
    if (indexed == places_by_id.end()) return false;

    auto& places = indexed->second;
    const Place first = places.front();
    // The route's map stays even when this was its last message.
    first.messages->erase(first.entry);
    places.erase(places.begin());
    if (places.empty()) places_by_id.erase(indexed);
    return true;
}

std::shared_ptr<kelnom::Message> MessageStore::firstFor(const std::string& route_name) {
    auto& messages = messages_by_route[route_name];
    return messages.empty() ? nullptr : messages.begin()->second;
}

bool MessageStore::hasEntryFor(const std::string& route_name) const {
    return messages_by_route.count(route_name) != 0;
}

}  // namespace kelnod
