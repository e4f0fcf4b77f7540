#include "Harness.hpp"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace kelno_bench {

namespace {

Clock::rep now_ticks() { return Clock::now().time_since_epoch().count(); }

double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

// Generous: a delivery that takes this long counts as lost.
constexpr std::chrono::milliseconds settle_timeout(3000);

}  // namespace

void Progress::acknowledged() {
    last_ack.store(now_ticks(), std::memory_order_relaxed);
    ack_count.fetch_add(1, std::memory_order_release);
    notify();
}

void Progress::delivered() {
    last_delivery.store(now_ticks(), std::memory_order_relaxed);
    delivery_count.fetch_add(1, std::memory_order_release);
    notify();
}

Clock::time_point Progress::lastAck() const {
    return Clock::time_point(Clock::duration(last_ack.load(std::memory_order_acquire)));
}

Clock::time_point Progress::lastDelivery() const {
    return Clock::time_point(Clock::duration(last_delivery.load(std::memory_order_acquire)));
}

void Progress::notify() {
    // Taking the lock orders the change before a waiter's check of it.
    { std::lock_guard<std::mutex> lock(mutex); }
    changed.notify_all();
}

bool Progress::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, done);
}

double ThroughputResult::lossPercent() const {
    if (published == 0) return 0;
    return 100.0 * static_cast<double>(published - std::min(published, delivered)) /
           static_cast<double>(published);
}

Percentiles percentiles(std::vector<double> samples) {
    Percentiles result;
    if (samples.empty()) return result;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double fraction) {
        const auto index =
            static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
        return samples[index];
    };
    result.p50 = at(0.50);
    result.p99 = at(0.99);
    result.max = samples.back();
    return result;
}

void await_first_delivery(Transport& transport, Progress& progress, std::size_t size) {
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    const std::uint64_t before = progress.deliveries();
    while (Clock::now() < deadline) {
        transport.publish(size);
        if (transport.awaitProgress([&] { return progress.deliveries() > before; },
                                    std::chrono::milliseconds(50))) {
            // Whatever else is still on its way arrives before measuring.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            transport.awaitProgress([] { return false; }, std::chrono::milliseconds(1));
            return;
        }
    }
    throw std::runtime_error("no message reached the subscriber");
}

ThroughputResult measure_throughput(Transport& transport, Progress& progress, std::size_t size,
                                    std::uint64_t window, std::chrono::milliseconds warmup,
                                    std::chrono::milliseconds duration) {
    await_first_delivery(transport, progress, size);
    const std::uint64_t acks_before = progress.acks();
    const std::uint64_t deliveries_before = progress.deliveries();
    std::uint64_t published = 0;
    const auto window_open = [&] { return published - (progress.acks() - acks_before) < window; };

    const auto start = Clock::now();
    const auto measure_from = start + warmup;
    const auto measure_until = measure_from + duration;
    bool measuring = false;
    std::uint64_t deliveries_at_start = 0;
    Clock::time_point started_at;
    while (true) {
        const auto now = Clock::now();
        if (!measuring && now >= measure_from) {
            measuring = true;
            deliveries_at_start = progress.deliveries();
            started_at = Clock::now();
        }
        if (now >= measure_until) break;
        if (window_open()) {
            transport.publish(size);
            ++published;
        } else {
            transport.awaitProgress(window_open, std::chrono::milliseconds(20));
        }
    }
    ThroughputResult result;
    const std::uint64_t deliveries_at_end = progress.deliveries();
    const auto ended_at = Clock::now();
    result.delivered_per_second = static_cast<double>(deliveries_at_end - deliveries_at_start) /
                                  std::chrono::duration<double>(ended_at - started_at).count();

    // Drain: every ack, and deliveries until they stop coming.
    transport.awaitProgress([&] { return progress.acks() - acks_before >= published; },
                            settle_timeout);
    transport.awaitProgress([&] { return progress.deliveries() - deliveries_before >= published; },
                            std::chrono::milliseconds(300));
    std::uint64_t seen = progress.deliveries();
    while (progress.deliveries() != seen) {
        seen = progress.deliveries();
        transport.awaitProgress([] { return false; }, std::chrono::milliseconds(200));
    }
    result.published = published;
    result.delivered = progress.deliveries() - deliveries_before;
    return result;
}

LatencyResult measure_latency(Transport& transport, Progress& progress, std::size_t size,
                              int count) {
    await_first_delivery(transport, progress, size);
    LatencyResult result;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t acks = progress.acks();
        const std::uint64_t deliveries = progress.deliveries();
        const auto sent_at = Clock::now();
        transport.publish(size);
        const bool both = transport.awaitProgress(
            [&] { return progress.acks() > acks && progress.deliveries() > deliveries; },
            settle_timeout);
        if (!both) {
            ++result.lost;
            continue;
        }
        result.to_delivery_us.push_back(microseconds(progress.lastDelivery() - sent_at));
        result.to_ack_us.push_back(microseconds(progress.lastAck() - sent_at));
    }
    return result;
}

void send_acknowledged(Transport& transport, Progress& progress, std::size_t size,
                       std::uint64_t count, std::uint64_t window) {
    const std::uint64_t acks_before = progress.acks();
    std::uint64_t published = 0;
    const auto window_open = [&] { return published - (progress.acks() - acks_before) < window; };
    while (published < count) {
        if (window_open()) {
            transport.publish(size);
            ++published;
        } else if (!transport.awaitProgress(window_open, std::chrono::seconds(10))) {
            throw std::runtime_error("acknowledgements stopped coming");
        }
    }
    if (!transport.awaitProgress([&] { return progress.acks() - acks_before >= count; },
                                 std::chrono::seconds(10))) {
        throw std::runtime_error("acknowledgements stopped coming");
    }
}

}  // namespace kelno_bench
