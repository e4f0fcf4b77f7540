#pragma once

#include <map>
#include <memory>
#include <string>

#include <kelnom/Message.hpp>

namespace kelnod {

// Messages kept for inbox polls: route name -> message id -> message, both
// levels in byte order. A message stays until an acknowledgement names it.
class MessageStore {
public:
    // Keeps the message under its first push route (replacing one with the same
    // id there); a message without push routes is not kept.
    void keep(const std::shared_ptr<kelnom::Message>& message);

    // Removes the first message, in store order, whose id is `message_id`.
    // False when none matched.
    bool removeAcknowledged(const std::string& message_id);

    // The message with the smallest id kept under `route_name`, or null.
    std::shared_ptr<kelnom::Message> firstFor(const std::string& route_name);

private:
    using MessagesById = std::map<std::string, std::shared_ptr<kelnom::Message>>;
    std::map<std::string, MessagesById> messages_by_route;
};

}  // namespace kelnod
