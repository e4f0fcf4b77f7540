#include "AcceptedIds.hpp"

#include <algorithm>

namespace kelnod {

void AcceptedIds::restore(const std::vector<std::pair<std::uint64_t, std::string>>& rows) {
    for (const auto& [sequence, id] : rows) {
        ids.insert(id);
        next_sequence = std::max(next_sequence, sequence + 1);
    }
}

void AcceptedIds::accept(const std::string& id) {
    if (!ids.insert(id)) return;
    pending.emplace_back(next_sequence++, id);
}

void AcceptedIds::writePending(DurableStore& file) {
    for (const auto& [sequence, id] : pending) file.insertAcceptedId(sequence, id);
    // The rows before the window are what the memory has forgotten.
    const std::uint64_t newest = next_sequence - 1;
    if (newest > window) file.forgetAcceptedIds(newest - window);
}

void AcceptedIds::writeAll(DurableStore& file) {
    // Numbered again so that the newest keeps its sequence.
    std::uint64_t sequence = next_sequence - ids.size();
    ids.visitOldestFirst([&](const std::string& id) { file.insertAcceptedId(sequence++, id); });
}

}  // namespace kelnod
