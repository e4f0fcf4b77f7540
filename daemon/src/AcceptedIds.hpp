#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KeptMessages.hpp"
#include "RecentIds.hpp"

namespace kelnod {

// The ids of the last `window` messages a reliable node accepted
// (kelno.chain.dedup_window). A message whose id is here has been handled:
// a copy of it (a sender's or a node's resend) is acknowledged again and
// dropped, never stored, passed up or published twice. With a store file the
// window is written in the wake-up's transaction, beside what accepting the
// message changed, so a restart keeps it.
class AcceptedIds : public KeptMessages::FileFollower {
public:
    explicit AcceptedIds(std::size_t window) : window(window), ids(window) {}

    // Puts back what the store file held, oldest first.
    void restore(const std::vector<std::pair<std::uint64_t, std::string>>& rows);

    bool contains(const std::string& id) const { return ids.contains(id); }
    // Remembers a new id; the oldest one beyond the window is forgotten.
    void accept(const std::string& id);

    std::size_t size() const { return ids.size(); }

    // KeptMessages::FileFollower
    bool hasPendingWrites() const override { return !pending.empty(); }
    bool pendingWritesNeedFlush() const override { return !pending.empty(); }
    void writePending(DurableStore& file) override;
    void forgetPendingWrites() override { pending.clear(); }
    void writeAll(DurableStore& file) override;

private:
    std::size_t window;
    RecentIds ids;
    std::uint64_t next_sequence = 1;  // the sequence of the next accepted id
    std::vector<std::pair<std::uint64_t, std::string>> pending;
};

}  // namespace kelnod
