// The memory store's bounds and expiry, as tables of cases. Times are seconds
// on a made-up wall clock; every message's id is also its tag.
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MessageStore.hpp"

namespace kelnod {
namespace {

WallTime at(std::int64_t seconds) { return WallTime(std::chrono::seconds(seconds)); }

std::shared_ptr<kelnom::Message> message(const std::string& route, const std::string& id,
                                         std::uint32_t bytes, std::int64_t validity) {
    kelnom::HeaderMap headers = {{"ack_mode", "1"},
                                 {"app_id", "app"},
                                 {"id", id},
                                 {"origin", ","},
                                 {"valid_for", std::to_string(validity)}};
    return std::make_shared<kelnom::Message>(kelnom::Payload(bytes, "bin"),
                                             std::vector<std::string>{route}, headers);
}

struct Op {
    enum class Kind { Keep, Ack, First, Expire, Holds };
    Kind kind;
    std::string route;
    std::string id;          // Keep: the id; First: the expected id, "" for none
    std::int64_t time = 0;   // seconds
    std::int64_t value = 0;  // Keep: validity; Expire: removed; Holds: messages
    std::uint64_t bytes = 0; // Keep: payload size; Holds: payload bytes
    bool flag = false;       // Keep: kept; Ack: found
};

Op keep(std::string route, std::string id, std::uint64_t bytes, std::int64_t validity,
        std::int64_t time, bool kept = true) {
    return {Op::Kind::Keep, std::move(route), std::move(id), time, validity, bytes, kept};
}
Op ack(std::string id, bool found) {
    return {Op::Kind::Ack, "", std::move(id), 0, 0, 0, found};
}
Op first(std::string route, std::int64_t time, std::string id) {
    return {Op::Kind::First, std::move(route), std::move(id), time, 0, 0, false};
}
Op expire(std::int64_t time, std::int64_t removed) {
    return {Op::Kind::Expire, "", "", time, removed, 0, false};
}
Op holds(std::int64_t messages, std::uint64_t bytes) {
    return {Op::Kind::Holds, "", "", 0, messages, bytes, false};
}

struct BoundsCase {
    const char* name;
    StoreLimits limits;
    std::vector<Op> ops;
    StoreDrops drops;  // at the end
};

void PrintTo(const BoundsCase& c, std::ostream* out) { *out << c.name; }

class StoreBounds : public testing::TestWithParam<BoundsCase> {};

TEST_P(StoreBounds, ObservesEachStep) {
    MessageStore store(GetParam().limits);
    const auto& ops = GetParam().ops;
    for (std::size_t i = 0; i < ops.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const Op& op = ops[i];
        switch (op.kind) {
            case Op::Kind::Keep:
                EXPECT_EQ(store.keep(message(op.route, op.id, static_cast<std::uint32_t>(op.bytes),
                                             op.value),
                                     at(op.time))
                              .kept,
                          op.flag);
                break;
            case Op::Kind::Ack:
                EXPECT_EQ(store.removeAcknowledged(op.id), op.flag) << op.id;
                break;
            case Op::Kind::First: {
                const auto found = store.firstFor(op.route, at(op.time));
                EXPECT_EQ(found ? found->msgId() : "", op.id) << op.route;
                break;
            }
            case Op::Kind::Expire:
                EXPECT_EQ(store.expireDue(at(op.time)), static_cast<std::uint64_t>(op.value));
                break;
            case Op::Kind::Holds:
                EXPECT_EQ(store.size(), static_cast<std::uint64_t>(op.value));
                EXPECT_EQ(store.payloadBytes(), op.bytes);
                break;
        }
    }
    const StoreDrops& drops = store.drops();
    const StoreDrops& expected = GetParam().drops;
    EXPECT_EQ(drops.over_max_messages, expected.over_max_messages);
    EXPECT_EQ(drops.over_max_bytes, expected.over_max_bytes);
    EXPECT_EQ(drops.too_large, expected.too_large);
    EXPECT_EQ(drops.expired, expected.expired);
}

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

StoreLimits messages(std::uint64_t max) { return {max, 0, false}; }
StoreLimits bytes(std::uint64_t max) { return {0, max, false}; }
StoreLimits expiring() { return {0, 0, true}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, StoreBounds,
    testing::Values(
        BoundsCase{"NoLimitsKeepEverything",
                   {},
                   {keep("r", "a", 100, 1, 0), keep("r", "b", 100, 1, 0), holds(2, 200),
                    first("r", 1000000, "a"), expire(1000000, 0)},
                   {}},
        // Oldest by arrival, not the smallest id, and whatever its route.
        BoundsCase{"MaxMessagesDropsTheOldestArrival",
                   messages(2),
                   {keep("r", "b", 1, 0, 1), keep("s", "a", 1, 0, 2), keep("r", "c", 1, 0, 3),
                    first("r", 3, "c"), first("s", 3, "a"), holds(2, 2), ack("b", false)},
                   {1, 0, 0, 0}},
        BoundsCase{"MaxMessagesOfOneKeepsOnlyTheNewest",
                   messages(1),
                   {keep("r", "a", 1, 0, 1), keep("r", "b", 1, 0, 2), keep("r", "c", 1, 0, 3),
                    first("r", 3, "c"), holds(1, 1)},
                   {2, 0, 0, 0}},
        BoundsCase{"AnAcknowledgementMakesRoom",
                   messages(1),
                   {keep("r", "a", 1, 0, 1), ack("a", true), keep("r", "b", 1, 0, 2),
                    first("r", 2, "b")},
                   {}},
        // Replacing under the same id is no drop; the new copy is the newest.
        BoundsCase{"ReplacingIsANewArrivalNotADrop",
                   messages(2),
                   {keep("r", "a", 1, 0, 1), keep("r", "b", 1, 0, 2), keep("r", "a", 1, 0, 3),
                    holds(2, 2), keep("r", "c", 1, 0, 4), first("r", 4, "a"), ack("b", false)},
                   {1, 0, 0, 0}},
        BoundsCase{"MaxBytesDropsAsManyOldestAsNeeded",
                   bytes(10),
                   {keep("r", "a", 4, 0, 1), keep("r", "b", 4, 0, 2), keep("r", "c", 8, 0, 3),
                    holds(1, 8), first("r", 3, "c")},
                   {0, 2, 0, 0}},
        BoundsCase{"MaxBytesIsInclusive",
                   bytes(10),
                   {keep("r", "a", 5, 0, 1), keep("r", "b", 5, 0, 2), holds(2, 10),
                    keep("r", "c", 0, 0, 3), holds(3, 10)},
                   {}},
        BoundsCase{"APayloadAboveMaxBytesIsNotKeptAndTheOthersStay",
                   bytes(10),
                   {keep("r", "a", 6, 0, 1), keep("r", "b", 11, 0, 2, false), holds(1, 6),
                    first("r", 2, "a"), ack("b", false)},
                   {0, 0, 1, 0}},
        BoundsCase{"BothBoundsEachCountTheirOwnDrops",
                   {2, 10, false},
                   {keep("r", "a", 2, 0, 1), keep("r", "b", 2, 0, 2), keep("r", "c", 2, 0, 3),
                    keep("r", "d", 9, 0, 4), holds(1, 9)},
                   {2, 1, 0, 0}},
        // Expiry: arrival + validity, inclusive at the deadline.
        BoundsCase{"ExpiresOnceTheValidityHasRunOut",
                   expiring(),
                   {keep("r", "a", 1, 10, 100), first("r", 109, "a"), expire(109, 0),
                    first("r", 110, ""), expire(110, 1), holds(0, 0), ack("a", false)},
                   {0, 0, 0, 1}},
        BoundsCase{"AnExpiredMessageIsSkippedUntilRemoved",
                   expiring(),
                   {keep("r", "a", 1, 5, 0), keep("r", "b", 1, 100, 0), first("r", 4, "a"),
                    first("r", 5, "b"), holds(2, 2), expire(5, 1), first("r", 5, "b")},
                   {0, 0, 0, 1}},
        BoundsCase{"AnAcknowledgedMessageNeverExpires",
                   expiring(),
                   {keep("r", "a", 1, 5, 0), ack("a", true), expire(10, 0)},
                   {}},
        BoundsCase{"ExpireRemovesOnlyWhatIsDue",
                   expiring(),
                   {keep("r", "a", 1, 30, 0), keep("s", "b", 1, 10, 0), keep("r", "c", 1, 20, 0),
                    expire(15, 1), expire(25, 1), first("r", 25, "a"), expire(30, 1)},
                   {0, 0, 0, 3}},
        // The documented rule: a validity of 0 or less sets no time limit.
        BoundsCase{"ValidityZeroOrLessNeverExpires",
                   expiring(),
                   {keep("r", "a", 1, 0, 0), keep("r", "b", 1, -5, 0),
                    keep("r", "c", 1, int64_min, 0), expire(int64_max / 1000, 0),
                    first("r", int64_max / 1000, "a"), holds(3, 3)},
                   {}},
        // arrival + validity * 1000 would not fit 64 bits: saturated, never.
        BoundsCase{"AValidityTooLargeToAddNeverExpires",
                   expiring(),
                   {keep("r", "a", 1, int64_max, 1000), keep("r", "b", 1, int64_max / 1000, 1000),
                    keep("r", "c", 1, int64_max / 1000 - 2000, 1000),
                    expire(int64_max / 1000 - 1001, 0), expire(int64_max / 1000 - 1000, 1),
                    first("r", int64_max / 1000, "a"), holds(2, 2)},
                   {0, 0, 0, 1}},
        BoundsCase{"WithoutExpireNothingExpires",
                   {},
                   {keep("r", "a", 1, 1, 0), first("r", 1000, "a"), expire(1000, 0)},
                   {}},
        // Expiry and a bound together: the bound still takes the oldest.
        BoundsCase{"ABoundTakesTheOldestEvenIfItExpiresLater",
                   {1, 0, true},
                   {keep("r", "a", 1, 100, 0), keep("r", "b", 1, 5, 1), first("r", 1, "b"),
                    expire(6, 1), holds(0, 0)},
                   {1, 0, 0, 1}}),
    [](const testing::TestParamInfo<BoundsCase>& info) { return std::string(info.param.name); });

// What restore does with what the file kept: its own sequence and arrival,
// expired and over-the-bound ones reported removed.
struct Recorder : MessageStore::Journal {
    void kept(const KeptEntry& entry) override { kept_sequences.push_back(entry.sequence); }
    void removed(std::uint64_t sequence) override { removed_sequences.push_back(sequence); }
    std::vector<std::uint64_t> kept_sequences;
    std::vector<std::uint64_t> removed_sequences;
};

TEST(StoreRestore, KeepsTheArrivalAndSequenceAndTellsWhatItDropped) {
    MessageStore store({2, 0, true});
    Recorder journal;
    store.setJournal(&journal);
    EXPECT_FALSE(store.restore(message("r", "expired", 1, 10), 3, at(0), at(10)).kept);
    EXPECT_TRUE(store.restore(message("r", "old", 1, 10), 5, at(5), at(10)).kept);
    EXPECT_TRUE(store.restore(message("r", "mid", 1, 0), 7, at(6), at(10)).kept);
    EXPECT_TRUE(store.restore(message("r", "new", 1, 0), 9, at(7), at(10)).kept);
    EXPECT_EQ(journal.kept_sequences, std::vector<std::uint64_t>{});
    EXPECT_EQ(journal.removed_sequences, (std::vector<std::uint64_t>{3, 5}));
    EXPECT_EQ(store.nextSequence(), 10u);
    std::vector<std::uint64_t> sequences;
    store.visitInArrivalOrder([&](const KeptEntry& entry) {
        sequences.push_back(entry.sequence);
        EXPECT_EQ(entry.arrival, entry.sequence == 7 ? at(6) : at(7));
    });
    EXPECT_EQ(sequences, (std::vector<std::uint64_t>{7, 9}));
    store.keep(message("r", "later", 1, 0), at(20));
    EXPECT_EQ(journal.kept_sequences, std::vector<std::uint64_t>{10});
    EXPECT_EQ(journal.removed_sequences, (std::vector<std::uint64_t>{3, 5, 7}));
}

}  // namespace
}  // namespace kelnod
