// Cost of kelnod's message store beside a full store: one message kept under
// a route nobody polls and then acknowledged, with N other messages kept.
//   cmake --build build-bench --target store_bench && ./build-bench/bench/store_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <kelnou/Uuid.hpp>

#include "MessageStore.hpp"

namespace {

std::shared_ptr<kelnom::Message> parked_message() {
    kelnom::Payload payload(64, "bin");
    return std::make_shared<kelnom::Message>(
        std::move(payload),
        kelnom::Message::Config("bench-app", {"bench-parked"}, std::chrono::seconds(60),
                                kelnom::Message::AckMode::NoAck));
}

void KeepAndAcknowledge(benchmark::State& state) {
    kelnod::MessageStore store;
    for (int64_t i = 0; i < state.range(0); ++i) store.keep(parked_message());
    // Fresh messages made ahead, so the loop measures the store alone.
    std::vector<std::shared_ptr<kelnom::Message>> fresh(4096);
    for (auto& message : fresh) message = parked_message();
    std::size_t next = 0;
    for (auto _ : state) {
        const auto& message = fresh[next++ % fresh.size()];
        store.keep(message);
        benchmark::DoNotOptimize(store.removeAcknowledged(message->msgId()));
    }
}

}  // namespace

BENCHMARK(KeepAndAcknowledge)->Arg(0)->Arg(10000)->Arg(100000);

BENCHMARK_MAIN();
