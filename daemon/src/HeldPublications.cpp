#include "HeldPublications.hpp"

#include <algorithm>

namespace kelnod {

void HeldPublications::restore(const std::vector<DurableStore::ChainMessage>& rows) {
    for (const auto& row : rows) {
        held.push_back(row);
        next_sequence = std::max(next_sequence, row.sequence + 1);
    }
}

void HeldPublications::publish(const std::shared_ptr<kelnom::Message>& message) {
    if (!holding) {
        send(*message);
        return;
    }
    DurableStore::ChainMessage row{next_sequence++, message};
    held.push_back(row);
    to_write.push_back(std::move(row));
}

void HeldPublications::release() {
    if (held.empty()) return;
    for (const auto& row : held) {
        send(*row.message);
        if (holding) to_remove.push_back(row.sequence);
    }
    held.clear();
    if (holding) store.writeNow(*this);
}

void HeldPublications::send(const kelnom::Message& message) {
    if (published(sockets.publish(message))) ++stats.messages_published;
}

bool HeldPublications::hasPendingWrites() const {
    return !to_write.empty() || !to_remove.empty();
}

void HeldPublications::writePending(DurableStore& file) {
    for (const auto sequence : to_remove) {
        file.removeChainMessage(DurableStore::ChainTable::unpublished, sequence);
    }
    for (const auto& row : to_write) {
        file.insertChainMessage(DurableStore::ChainTable::unpublished, row.sequence, *row.message);
    }
}

void HeldPublications::forgetPendingWrites() {
    to_write.clear();
    to_remove.clear();
}

}  // namespace kelnod
