// Cost of kelnod's message store beside a full store: one message kept under
// a route nobody polls and then acknowledged, with N other messages kept; in
// memory, and with the store file (one transaction per batch of operations,
// as the handlers commit once per wake-up). The counters say what one kept
// message costs: resident memory (memory store) and bytes on disk (file).
//   cmake --build build-bench --target store_bench && ./build-bench/bench/store_bench
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KeptMessages.hpp"
#include "MessageStore.hpp"

namespace {

std::shared_ptr<kelnom::Message> parked_message() {
    kelnom::Payload payload(64, "bin");
    return std::make_shared<kelnom::Message>(
        std::move(payload),
        kelnom::Message::Config("bench-app", {"bench-parked"}, std::chrono::seconds(60),
                                kelnom::Message::AckMode::NoAck));
}

// Bytes the allocator has handed out now.
std::size_t heap_in_use() { return mallinfo2().uordblks; }

void KeepAndAcknowledge(benchmark::State& state) {
    const std::size_t before = heap_in_use();
    kelnod::MessageStore store;
    for (int64_t i = 0; i < state.range(0); ++i) store.keep(parked_message());
    const std::size_t held = heap_in_use() - before;
    // Fresh messages made ahead, so the loop measures the store alone.
    std::vector<std::shared_ptr<kelnom::Message>> fresh(4096);
    for (auto& message : fresh) message = parked_message();
    std::size_t next = 0;
    for (auto _ : state) {
        const auto& message = fresh[next++ % fresh.size()];
        store.keep(message);
        benchmark::DoNotOptimize(store.removeAcknowledged(message->msgId()));
    }
    if (state.range(0) > 0) {
        // Message, payload and the store's indexes together.
        state.counters["heap_per_kept"] = static_cast<double>(held) / state.range(0);
    }
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kelno_store_bench_XXXXXX";
        if (::mkdtemp(pattern) != nullptr) dir = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
};

// Args: kept messages beside, operations (keep + acknowledge) per transaction.
void KeepAndAcknowledgeDurable(benchmark::State& state) {
    TempDir temp;
    auto quiet = [](const std::string&) {};
    kelnod::KeptMessages kept(kelnod::StoreSettings{temp.dir + "/store.db", {}}, quiet, quiet);
    const std::uint64_t start_bytes = kept.durableStore()->diskBytes();
    kept.beginBatch();
    for (int64_t i = 0; i < state.range(0); ++i) {
        kept.keep(parked_message());
        if (i % 1000 == 999) {
            kept.commitBatch();
            kept.beginBatch();
        }
    }
    kept.commitBatch();
    const std::uint64_t file_bytes = kept.durableStore()->diskBytes() - start_bytes;

    // Each keep's acknowledgement comes 1024 keeps later, in another batch, as
    // a poller's would: every keep and every removal reaches the file.
    constexpr std::size_t lag = 1024;
    std::vector<std::shared_ptr<kelnom::Message>> fresh(4096);
    for (auto& message : fresh) message = parked_message();
    for (std::size_t i = 0; i < lag; ++i) kept.keep(fresh[i]);
    const int64_t batch = state.range(1);
    std::size_t next = lag;
    int64_t in_batch = 0;
    kept.beginBatch();
    for (auto _ : state) {
        kept.keep(fresh[next % fresh.size()]);
        benchmark::DoNotOptimize(kept.removeAcknowledged(fresh[(next - lag) % fresh.size()]->msgId()));
        ++next;
        if (++in_batch == batch) {
            if (!kept.commitBatch()) state.SkipWithError("commit failed");
            kept.beginBatch();
            in_batch = 0;
        }
    }
    kept.commitBatch();
    state.SetItemsProcessed(state.iterations());
    if (state.range(0) > 0) {
        state.counters["file_per_kept"] = static_cast<double>(file_bytes) / state.range(0);
    }
}

}  // namespace

BENCHMARK(KeepAndAcknowledge)->Arg(0)->Arg(10000)->Arg(100000);
// Batches of 1: a transaction (one fsync) per keep and acknowledgement, as
// with one request per wake-up; larger: as under load.
BENCHMARK(KeepAndAcknowledgeDurable)
    ->Args({0, 1})
    ->Args({0, 16})
    ->Args({0, 256})
    ->Args({10000, 1})
    ->Args({10000, 256})
    ->Args({100000, 256})
    ->UseRealTime();

BENCHMARK_MAIN();
