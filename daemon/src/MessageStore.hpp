#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <kelnom/Message.hpp>

namespace kelnod {

// Messages kept for inbox polls: route name -> message id -> message, both
// levels in byte order. A message stays until an acknowledgement names it.
class MessageStore {
public:
    MessageStore() = default;
    // The index points into the maps' nodes: a copy's would point into ours.
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;
    MessageStore(MessageStore&&) = default;  // nodes stay where they are
    MessageStore& operator=(MessageStore&&) = default;

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
    using MessagesById = std::map<IdKey, std::shared_ptr<kelnom::Message>, IdOrder>;
    // Entries are never removed, so the names and maps here stay where they are.
    std::map<std::string, MessagesById, std::less<>> messages_by_route;

    // Where a message with a given id is kept: the route's name and messages,
    // and its entry there (valid until that entry is erased).
    struct Place {
        const std::string* route_name;
        MessagesById* messages;
        MessagesById::iterator entry;
    };
    // Index for acknowledgements: message id -> the places that keep a message
    // with that id, by route name ascending. Exactly the (route name, id) pairs
    // kept above, so the first place is the first match in store order, and
    // removing it needs no second search. Ordered rather than hashed: ids come
    // from peers and must not be able to degrade the lookup by colliding.
    std::map<IdKey, std::vector<Place>, IdOrder> places_by_id;
};

}  // namespace kelnod
