#pragma once

#include <cstddef>
#include <deque>
#include <set>
#include <string>

namespace kelnod {

// The last `capacity` message ids seen, to tell a copy of a message from a
// new one. When full, the oldest id is forgotten first. Ordered rather than
// hashed: ids come from peers and must not be able to degrade the lookup by
// colliding.
class RecentIds {
public:
    explicit RecentIds(std::size_t capacity);

    // True when `id` is new (it is remembered from now on); false for a copy.
    bool insert(const std::string& id);
    bool contains(const std::string& id) const { return ids.count(id) != 0; }
    std::size_t size() const { return ids.size(); }
    // Every remembered id, oldest first.
    template <typename Visit>
    void visitOldestFirst(Visit visit) const {
        for (const auto& id : arrival) visit(*id);
    }

private:
    std::size_t capacity;
    std::set<std::string, std::less<>> ids;
    std::deque<std::set<std::string, std::less<>>::const_iterator> arrival;  // oldest first
};

}  // namespace kelnod
