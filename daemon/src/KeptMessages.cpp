#include "KeptMessages.hpp"

#include <utility>

#include <kelnou/Exception.hpp>

namespace kelnod {

namespace {

std::string bounds_text(const StoreLimits& limits) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (limits.max_messages != 0)
        add("at most " + std::to_string(limits.max_messages) + " messages");
    if (limits.max_bytes != 0)
        add("at most " + std::to_string(limits.max_bytes) + " payload bytes");
    if (limits.expire) add("expired messages removed");
    return text;
}

std::uint64_t total(const StoreDrops& drops) {
    return drops.over_max_messages + drops.over_max_bytes + drops.too_large + drops.expired;
}

}  // namespace

KeptMessages::KeptMessages(const StoreSettings& settings, Output status, Output errors, Clock clock)
    : settings(settings),
      status(std::move(status)),
      errors(std::move(errors)),
      clock(std::move(clock)),
      memory(settings.limits) {
    if (settings.path.empty()) return;
    DurableStore::Opened opened = DurableStore::open(settings.path, settings.chain_tables);
    for (const auto& problem : opened.problems) this->errors(problem);
    file = std::move(opened.store);
    if (!file) return;
    loaded_chain = std::move(opened.chain);

    file_in_step = true;
    memory.setJournal(this);
    // What the bounds or expiry take away now leaves the file with the first commit.
    const WallTime now = this->clock();
    for (const auto& row : opened.rows) {
        if (memory.restore(row.message, row.sequence, row.arrival, now).kept) ++loaded;
    }
    load_drops = total(memory.drops());
    commitBatch();
}

KeptMessages::~KeptMessages() {
    // A stop between a keep and the end of its batch: memory has it, so should the file.
    try {
        if (batch_open) commitBatch();
    } catch (...) {
    }
    memory.setJournal(nullptr);
}

void KeptMessages::keep(const std::shared_ptr<kelnom::Message>& message) {
    noteKeep(memory.keep(message, clock()), *message);
    afterChange();
}

bool KeptMessages::removeAcknowledged(const std::string& message_id) {
    if (!memory.removeAcknowledged(message_id)) return false;
    afterChange();
    return true;
}

std::shared_ptr<kelnom::Message> KeptMessages::firstFor(const std::string& route_name) {
    return memory.firstFor(route_name, clock());
}

bool KeptMessages::hasEntryFor(const std::string& route_name) const {
    return memory.hasEntryFor(route_name);
}

std::uint64_t KeptMessages::expireDue() {
    const WallTime now = clock();
    const std::uint64_t removed = memory.expireDue(now);
    if (removed != 0) afterChange();
    expiries_unreported += removed;
    if (expiries_unreported != 0) {
        const bool due = last_expiry_report == WallTime::min() || now < last_expiry_report ||
                         now - last_expiry_report >= _expiry_report_interval;
        if (due) {
            status("store: " + std::to_string(expiries_unreported) + " expired messages removed");
            expiries_unreported = 0;
            last_expiry_report = now;
        }
    }
    return removed;
}

void KeptMessages::beginBatch() { batch_open = true; }

bool KeptMessages::commitBatch() {
    batch_open = false;
    if (file && file_in_step) return writePending();
    // Nothing to write the followers' changes to: memory goes on alone.
    forgetFollowersWrites();
    if (!file) return false;
    const WallTime now = clock();
    if (now >= last_resync_attempt && now - last_resync_attempt < _resync_interval) return false;
    last_resync_attempt = now;
    return resync();
}

void KeptMessages::writeNow(FileFollower& follower) {
    if (!file || !file_in_step) {
        follower.forgetPendingWrites();
        return;
    }
    try {
        file->setFlushed(false);
        file->begin();
        follower.writePending(*file);
        file->commit();
        follower.forgetPendingWrites();
    } catch (const kelnou::Exception&) {
        file->rollback();
    }
    file->setFlushed(true);
}

void KeptMessages::forgetFollowersWrites() {
    for (FileFollower* follower : followers) follower->forgetPendingWrites();
}

std::string KeptMessages::startupLine() const {
    const std::string bounds = bounds_text(settings.limits);
    if (settings.path.empty() && bounds.empty()) return "";
    std::string line;
    if (file) {
        line = "Store: " + settings.path + ", " + std::to_string(loaded) + " messages loaded";
        if (load_drops != 0) {
            line += " (" + std::to_string(load_drops) + " expired or over the bounds removed)";
        }
    } else if (!settings.path.empty()) {
        line = "Store: memory only (" + settings.path + " cannot be used)";
    } else {
        line = "Store: memory only";
    }
    if (!bounds.empty()) line += "; " + bounds;
    return line;
}

void KeptMessages::kept(const KeptEntry& entry) {
    if (file_in_step) pending_kept.emplace(entry.sequence, entry);
}

void KeptMessages::removed(std::uint64_t sequence) {
    if (!file_in_step) return;
    if (pending_kept.erase(sequence) == 0) pending_removed.push_back(sequence);
}

void KeptMessages::afterChange() {
    if (!batch_open && file) commitBatch();
}

void KeptMessages::noteKeep(const MessageStore::KeepOutcome& outcome,
                            const kelnom::Message& message) {
    const StoreLimits& limits = settings.limits;
    const std::uint64_t dropped = outcome.evicted + (outcome.too_large ? 1 : 0);
    if (dropped == 0) {
        if (outcome.kept && bound_episode) {
            errors("store keeps messages without drops again, " +
                   std::to_string(bound_episode_drops) + " messages dropped by its bounds");
            bound_episode = false;
            bound_episode_drops = 0;
        }
        return;
    }
    bound_episode_drops += dropped;
    if (bound_episode) return;
    bound_episode = true;
    std::string why;
    if (outcome.too_large) {
        why = "message " + message.msgId() + " not kept, its " +
              std::to_string(message.payload().size()) +
              " payload bytes are above kelno.store.max_bytes=" + std::to_string(limits.max_bytes);
    } else {
        why = "the oldest kept messages go to make room for new ones (" + bounds_text(limits) + ")";
    }
    errors("store full: " + why +
           "; further drops are counted until a message is kept without one");
}

bool KeptMessages::writePending() {
    bool followers_pending = false;
    bool flush = !pending_kept.empty() || !settings.chain_tables;
    for (const FileFollower* follower : followers) {
        followers_pending = followers_pending || follower->hasPendingWrites();
        flush = flush || follower->pendingWritesNeedFlush();
    }
    if (pending_kept.empty() && pending_removed.empty() && !followers_pending) return true;
    if (!flush) file->setFlushed(false);
    const auto started = std::chrono::steady_clock::now();
    try {
        kelnou::with_context("While trying to write the kept messages to " + file->path(), [&] {
            file->begin();
            for (const auto sequence : pending_removed) file->remove(sequence);
            for (const auto& [sequence, entry] : pending_kept) file->insert(entry);
            for (FileFollower* follower : followers) follower->writePending(*file);
            file->commit();
        });
    } catch (const kelnou::Exception& error) {
        file->rollback();
        if (!flush) file->setFlushed(true);
        commit_times.recordFailure();
        pending_kept.clear();
        pending_removed.clear();
        forgetFollowersWrites();
        file_in_step = false;
        last_resync_attempt = clock();
        errors("store " + file->path() + ": write failed (" + error.generateMessage() +
               "); messages are kept in memory only, and acknowledged, until a write succeeds "
               "again");
        return false;
    }
    if (!flush) file->setFlushed(true);
    commit_times.record(std::chrono::duration_cast<CommitTimes::Duration>(
        std::chrono::steady_clock::now() - started));
    pending_kept.clear();
    pending_removed.clear();
    forgetFollowersWrites();
    return true;
}

// Memory is the truth: rows it no longer has go, rows it has and the file
// lacks are written. A sequence names one message for good, and a row is
// written only at a commit, after the handlers are done with the message, so
// a row the file has already is the message as memory has it.
bool KeptMessages::resync() {
    try {
        const std::vector<std::uint64_t> in_file = file->sequences();
        std::vector<KeptEntry> in_memory;
        in_memory.reserve(memory.size());
        memory.visitInArrivalOrder([&](const KeptEntry& entry) { in_memory.push_back(entry); });

        file->begin();
        auto row = in_file.begin();
        for (const auto& entry : in_memory) {
            for (; row != in_file.end() && *row < entry.sequence; ++row) file->remove(*row);
            if (row != in_file.end() && *row == entry.sequence) {
                ++row;
            } else {
                file->insert(entry);
            }
        }
        for (; row != in_file.end(); ++row) file->remove(*row);
        if (!followers.empty()) {
            file->clearChainTables();
            for (FileFollower* follower : followers) follower->writeAll(*file);
        }
        file->commit();
    } catch (const kelnou::Exception&) {
        file->rollback();
        return false;
    }
    file_in_step = true;
    errors("store " + file->path() + ": written again, in step with memory (" +
           std::to_string(memory.size()) + " messages)");
    return true;
}

}  // namespace kelnod
