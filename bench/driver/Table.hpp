#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kelno_bench {

enum class Unit { PerSecond, Microseconds, KiB, Bytes, Milliseconds, BytesPerMessage };

// One measured quantity for Kelno and its two baselines; a missing baseline
// prints "n/a" (the reason goes into the note).
struct Row {
    std::string scenario;
    std::string measure;
    Unit unit;
    std::optional<double> kelno;
    std::optional<double> limit;
    std::optional<double> mosquitto;
    std::string note;
};

// A markdown table: each Kelno figure with its ratio (Kelno / baseline) to
// the limit and to Mosquitto.
void print_markdown(std::ostream& out, const std::vector<Row>& rows);

}  // namespace kelno_bench
