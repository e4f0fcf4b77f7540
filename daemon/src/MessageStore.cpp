#include "MessageStore.hpp"

namespace kelnod {

// A kept message's id never changes in the daemon (it is made once by the
// sending client), so the key it is filed under stays its own id.

void MessageStore::keep(const std::shared_ptr<kelnom::Message>& message) {
    const auto& routes = message->pushRoutes();
    if (routes.empty()) return;
    const std::string& route_name = routes.front();
    const std::string message_id = message->msgId();
    messages_by_route[route_name][message_id] = message;
    // A replaced message leaves the pair as it was: the set holds the name once.
    route_names_by_id[message_id].insert(route_name);
}

bool MessageStore::removeAcknowledged(const std::string& message_id) {
    const auto indexed = route_names_by_id.find(message_id);
    if (indexed == route_names_by_id.end()) return false;

    auto& route_names = indexed->second;
    const auto first_route = route_names.begin();
    // The inner map stays even when this was its last message.
    messages_by_route.at(*first_route).erase(message_id);
    route_names.erase(first_route);
    if (route_names.empty()) route_names_by_id.erase(indexed);
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
