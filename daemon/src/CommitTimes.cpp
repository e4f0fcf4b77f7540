#include "CommitTimes.hpp"

#include <algorithm>
#include <vector>

namespace kelnod {

void CommitTimes::record(Duration took) {
    recent[count % _window] = took;
    ++count;
    max = std::max(max, took);
}

CommitTimes::Duration CommitTimes::median() const {
    const std::size_t filled = count < _window ? static_cast<std::size_t>(count) : _window;
    if (filled == 0) return Duration{0};
    std::vector<Duration> sorted(recent.begin(), recent.begin() + filled);
    std::nth_element(sorted.begin(), sorted.begin() + filled / 2, sorted.end());
    return sorted[filled / 2];
}

}  // namespace kelnod
