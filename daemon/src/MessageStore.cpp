#include "MessageStore.hpp"

namespace kelnod {

void MessageStore::keep(const std::shared_ptr<kelnom::Message>& message) {
    const auto& routes = message->pushRoutes();
    if (routes.empty()) return;
    messages_by_route[routes.front()][message->msgId()] = message;
}

bool MessageStore::removeAcknowledged(const std::string& message_id) {
    // The stored message's own id decides, not the key it was filed under.
    for (auto& [route_name, messages] : messages_by_route) {
        for (auto entry = messages.begin(); entry != messages.end(); ++entry) {
            if (entry->second->msgId() == message_id) {
                messages.erase(entry);
                return true;
            }
        }
    }
    return false;
}

std::shared_ptr<kelnom::Message> MessageStore::firstFor(const std::string& route_name) {
    auto& messages = messages_by_route[route_name];
    return messages.empty() ? nullptr : messages.begin()->second;
}

}  // namespace kelnod
