#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kelnod {

// How long the store file's commits take: a count since start, the longest
// since start, and the median of the most recent ones (a fixed window, so
// the figure follows the disk as it is now and costs no memory over time).
class CommitTimes {
public:
    using Duration = std::chrono::microseconds;

    void record(Duration took);
    void recordFailure() { ++failed; }

    std::uint64_t commits() const { return count; }
    std::uint64_t failures() const { return failed; }
    Duration longest() const { return max; }
    // The median of the last _window commits; zero before the first.
    Duration median() const;

    static constexpr std::size_t _window = 1024;

private:
    std::array<Duration, _window> recent{};
    std::uint64_t count = 0;
    std::uint64_t failed = 0;
    Duration max{0};
};

}  // namespace kelnod
