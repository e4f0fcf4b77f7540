#include "RecentIds.hpp"

namespace kelnod {

RecentIds::RecentIds(std::size_t capacity) : capacity(capacity) {}

bool RecentIds::insert(const std::string& id) {
    if (capacity == 0) return true;
    auto [entry, added] = ids.insert(id);
    if (!added) return false;
    arrival.push_back(entry);
    if (arrival.size() > capacity) {
        ids.erase(arrival.front());
        arrival.pop_front();
    }
    return true;
}

}  // namespace kelnod
