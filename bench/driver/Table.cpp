#include "Table.hpp"

#include <cmath>
#include <cstdio>

namespace kelno_bench {

namespace {

const char* unit_name(Unit unit) {
    switch (unit) {
        case Unit::PerSecond:
            return "msg/s";
        case Unit::Microseconds:
            return "µs";
        case Unit::KiB:
            return "KiB";
        case Unit::Bytes:
            return "bytes";
        case Unit::Milliseconds:
            return "ms";
        case Unit::BytesPerMessage:
            return "B/msg";
    }
    return "";
}

// Thousands separated by commas, for counts and sizes.
std::string grouped(double value) {
    const long long whole = std::llround(value);
    std::string digits = std::to_string(whole < 0 ? -whole : whole);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
    return (whole < 0 ? "-" : "") + digits;
}

std::string figure(const std::optional<double>& value, Unit unit) {
    if (!value) return "n/a";
    if (unit == Unit::Microseconds) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", *value);
        return text;
    }
    return grouped(*value);
}

std::string ratio(const std::optional<double>& kelno, const std::optional<double>& other) {
    if (!kelno || !other || *other == 0) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f×", *kelno / *other);
    return text;
}

}  // namespace

void print_markdown(std::ostream& out, const std::vector<Row>& rows) {
    out << "| Scenario | Measure | Unit | Kelno | Limit (libzmq) | Kelno/Limit | Mosquitto | "
           "Kelno/Mosquitto | Note |\n";
    out << "|---|---|---|---:|---:|---:|---:|---:|---|\n";
    for (const Row& row : rows) {
        out << "| " << row.scenario << " | " << row.measure << " | " << unit_name(row.unit) << " | "
            << figure(row.kelno, row.unit) << " | " << figure(row.limit, row.unit) << " | "
            << ratio(row.kelno, row.limit) << " | " << figure(row.mosquitto, row.unit) << " | "
            << ratio(row.kelno, row.mosquitto) << " | " << row.note << " |\n";
    }
    out.flush();
}

}  // namespace kelno_bench
