#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kelno_bench {

using Clock = std::chrono::steady_clock;

// What a transport reports back: acknowledgements of sent messages and
// deliveries to the subscriber, from any thread, with the time of the last.
class Progress {
public:
    void acknowledged();
    void delivered();

    std::uint64_t acks() const { return ack_count.load(std::memory_order_acquire); }
    std::uint64_t deliveries() const { return delivery_count.load(std::memory_order_acquire); }
    Clock::time_point lastAck() const;
    Clock::time_point lastDelivery() const;

    // Wakes waiters without counting anything (a connection came up, ...).
    void wake() { notify(); }

    // Waits until `done` holds or `timeout` passes; true when it holds.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    void notify();

    std::atomic<std::uint64_t> ack_count{0};
    std::atomic<std::uint64_t> delivery_count{0};
    std::atomic<Clock::rep> last_ack{0};
    std::atomic<Clock::rep> last_delivery{0};
    std::mutex mutex;
    std::condition_variable changed;
};

// One system under test: a sender and a subscriber connected to a node. The
// sender's messages all go out on the thread that runs the harness.
class Transport {
public:
    explicit Transport(Progress& progress) : progress(progress) {}
    virtual ~Transport() = default;

    // Sends one message of `size` bytes; its acknowledgement and its delivery
    // are reported to the progress.
    virtual void publish(std::size_t size) = 0;
    // Waits (at most `timeout`) for `done`. A transport whose acknowledgements
    // must be read on the sending thread reads them here.
    virtual bool awaitProgress(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
        return progress.waitFor(done, timeout);
    }

protected:
    Progress& progress;
};

struct ThroughputResult {
    double delivered_per_second = 0;  // at the subscriber
    std::uint64_t published = 0;
    std::uint64_t delivered = 0;  // of those published, once the run has drained
    double lossPercent() const;
};

struct LatencyResult {
    std::vector<double> to_delivery_us;  // send -> subscriber's callback
    std::vector<double> to_ack_us;       // send -> sender's result callback
    std::uint64_t lost = 0;
};

struct Percentiles {
    double p50 = 0, p99 = 0, max = 0;
};
Percentiles percentiles(std::vector<double> samples);

// Sends single messages until the subscriber has one, so nothing measured is
// lost to a subscription still being set up. Raises when none arrives.
void await_first_delivery(Transport& transport, Progress& progress, std::size_t size);

// Keeps at most `window` unacknowledged messages going for `warmup` +
// `duration` and counts the deliveries during `duration`; then lets the
// messages in flight arrive.
ThroughputResult measure_throughput(Transport& transport, Progress& progress, std::size_t size,
                                    std::uint64_t window, std::chrono::milliseconds warmup,
                                    std::chrono::milliseconds duration);

// One message at a time, each waited for at both ends.
LatencyResult measure_latency(Transport& transport, Progress& progress, std::size_t size,
                              int count);

// Sends `count` messages with the window and waits for all their acks.
void send_acknowledged(Transport& transport, Progress& progress, std::size_t size,
                       std::uint64_t count, std::uint64_t window);

}  // namespace kelno_bench
