#pragma once

#include <map>
#include <memory>
#include <set>
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
    // False when none matched. Takes time logarithmic in the store's size.
    bool removeAcknowledged(const std::string& message_id);

    // The message with the smallest id kept under `route_name`, or null. A name
    // with nothing kept is added with no messages, and stays.
    std::shared_ptr<kelnom::Message> firstFor(const std::string& route_name);

    // True when `route_name` has an entry, even one whose messages are all gone.
    bool hasEntryFor(const std::string& route_name) const;

private:
    using MessagesById = std::map<std::string, std::shared_ptr<kelnom::Message>>;
    std::map<std::string, MessagesById> messages_by_route;

    // Index for acknowledgements: message id -> the route names that keep a
    // message with that id. Exactly the (route name, id) pairs kept above, so
    // the first name of a set is the first match in store order. Ordered
    // rather than hashed: ids come from peers and must not be able to degrade
    // the lookup by colliding.
    std::map<std::string, std::set<std::string>> route_names_by_id;
};

}  // namespace kelnod
