#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <ostream>
#include <string>
#include <vector>

namespace kelno_test {

// Stop signals sent back to back, in this order; `name` names the test case.
struct StopSignals {
    const char* name;
    std::vector<int> sent;
};

inline void PrintTo(const StopSignals& signals, std::ostream* out) { *out << signals.name; }

// `count` stop signals, SIGINT and SIGTERM mixed.
inline std::vector<int> signal_storm(int count) {
    std::vector<int> signals;
    for (int i = 0; i < count; ++i) signals.push_back(i % 3 == 0 ? SIGINT : SIGTERM);
    return signals;
}

// The cases of every signal test: each signal once, and a storm of fifty.
inline auto once_and_storm() {
    return ::testing::Values(StopSignals{"Int", {SIGINT}}, StopSignals{"Term", {SIGTERM}},
                             StopSignals{"StormOfFifty", signal_storm(50)});
}

inline std::string stop_signals_name(const ::testing::TestParamInfo<StopSignals>& info) {
    return info.param.name;
}

}  // namespace kelno_test
