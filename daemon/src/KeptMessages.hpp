#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CommitTimes.hpp"
#include "DurableStore.hpp"
#include "MessageStore.hpp"
#include "StoreSettings.hpp"

namespace kelnod {

// The messages the node keeps for inbox polls, as the handlers see them: the
// memory store (the truth, with its bounds and expiry) and, with a path, the
// store file that follows it. Without any kelno.store.* setting it is exactly
// the plain memory store, and prints nothing.
//
// On a reliable node (chain tables), a batch that only removes (an
// acknowledged message, an answered outbox entry) is committed without
// waiting for the disk: a crash of the process cannot lose it, and what a
// power cut brings back is handed out or passed up again and dropped as a
// copy by the reliable nodes it reaches. Anything new waits for the disk.
//
// Durability comes in batches: the handlers call beginBatch() once a wake-up,
// serve every request, then commitBatch(), and send the receipt
// acknowledgements of the messages kept in that batch only after it. One
// transaction per batch (group commit). A kept message is written as it is at
// commitBatch(), so origin nodes appended after keep() are in the file.
//
// A failing write (full disk, I/O error) is reported once; memory goes on
// alone and commitBatch() says false. From then on, at most every
// _resync_interval, commitBatch() tries to bring the file in step with memory
// again (rows memory no longer has are deleted, rows memory has and the file
// lacks are written, in one transaction); the first success is reported, and
// the file follows each batch again.
class KeptMessages : private MessageStore::Journal {
public:
    using Clock = std::function<WallTime()>;
    using Output = std::function<void(const std::string&)>;

    // State written in the same transactions as the kept messages (the
    // reliable chain's outbox, accepted ids and unpublished messages), so one
    // commit holds everything a wake-up changed. A follower collects its
    // changes as they happen; KeptMessages asks for them at the commit.
    class FileFollower {
    public:
        virtual bool hasPendingWrites() const = 0;
        // Whether they hold something new that must be on the disk before
        // the commit returns; removals alone need not be.
        virtual bool pendingWritesNeedFlush() const = 0;
        // Inside the transaction; throws as DurableStore does.
        virtual void writePending(DurableStore& file) = 0;
        // The transaction committed, or there is no file in step to write
        // to: either way the collected changes are done with.
        virtual void forgetPendingWrites() = 0;
        // Writes everything it holds into its emptied tables, to bring the
        // file in step again after failed writes.
        virtual void writeAll(DurableStore& file) = 0;

    protected:
        ~FileFollower() = default;
    };

    static constexpr std::chrono::seconds _resync_interval{5};
    static constexpr std::chrono::seconds _expiry_report_interval{60};

    // With `settings.path`, opens the file (moving a damaged one aside) and
    // loads what it kept, bounds and expiry applied; every problem goes to
    // `errors` at once. Never throws for the file's sake. `status` takes the
    // expiry counts, `errors` the failures and bound drops.
    KeptMessages(const StoreSettings& settings, Output status, Output errors,
                 Clock clock = &wall_now);
    ~KeptMessages();
    KeptMessages(const KeptMessages&) = delete;
    KeptMessages& operator=(const KeptMessages&) = delete;

    // --- As MessageStore, bounds and expiry applied.
    // Outside a batch, a change is committed at once, on its own.
    void keep(const std::shared_ptr<kelnom::Message>& message);
    bool removeAcknowledged(const std::string& message_id);
    // Never an expired message.
    std::shared_ptr<kelnom::Message> firstFor(const std::string& route_name);
    bool hasEntryFor(const std::string& route_name) const;
    // Removes what has expired by now (nothing without kelno.store.expire) and
    // says how many; the count is reported at most once per report interval.
    std::uint64_t expireDue();

    // --- Group commit.
    // `follower` must outlive this store or be never written again.
    void addFollower(FileFollower& follower) { followers.push_back(&follower); }
    // The chain's rows the file held at start (moved out; empty the second time).
    DurableStore::ChainRows takeChainRows() { return std::move(loaded_chain); }
    // Writes the follower's changes in a transaction of their own that waits
    // for no disk flush (it survives a crash of the process, not a power
    // cut); outside a batch. On failure they stay for the next commit.
    void writeNow(FileFollower& follower);
    void beginBatch();
    // Ends the batch. True when every change since beginBatch() is in the file
    // (an empty batch costs nothing); false without a file or while writes
    // fail. Either way the caller acknowledges: memory has the messages.
    bool commitBatch();

    // --- For start-up lines and statistics.
    // "Store: <path>, N messages loaded" (with the bounds and expiry when set),
    // "Store: memory only, ..." when a path was given but cannot be used or
    // only bounds are set; empty without any kelno.store.* setting.
    std::string startupLine() const;
    const StoreDrops& drops() const { return memory.drops(); }
    std::uint64_t size() const { return memory.size(); }
    std::uint64_t payloadBytes() const { return memory.payloadBytes(); }
    // A file is open and held every change up to the last commit.
    bool inStep() const { return file != nullptr && file_in_step; }
    // Null without a file; for tests and statistics.
    DurableStore* durableStore() { return file.get(); }
    bool hasFile() const { return file != nullptr; }
    const std::string& path() const { return settings.path; }
    // The store file's commits that wrote something, and how long they took.
    const CommitTimes& commitTimes() const { return commit_times; }

private:
    void kept(const KeptEntry& entry) override;
    void removed(std::uint64_t sequence) override;
    void afterChange();
    void noteKeep(const MessageStore::KeepOutcome& outcome, const kelnom::Message& message);
    bool writePending();
    void forgetFollowersWrites();
    bool resync();

    StoreSettings settings;
    Output status;
    Output errors;
    Clock clock;
    MessageStore memory;
    std::unique_ptr<DurableStore> file;
    bool file_in_step = false;
    CommitTimes commit_times;
    bool batch_open = false;
    WallTime last_resync_attempt = WallTime::min();
    std::uint64_t loaded = 0;
    std::uint64_t load_drops = 0;  // expired or over the bounds at start
    std::vector<FileFollower*> followers;
    DurableStore::ChainRows loaded_chain;

    // Changes since the last commit, by sequence: a message kept and removed
    // within one batch is never written.
    std::map<std::uint64_t, KeptEntry> pending_kept;
    std::vector<std::uint64_t> pending_removed;

    // A bound episode: from the first drop to the first keep that needs none.
    bool bound_episode = false;
    std::uint64_t bound_episode_drops = 0;
    std::uint64_t expiries_unreported = 0;
    WallTime last_expiry_report = WallTime::min();
};

}  // namespace kelnod
