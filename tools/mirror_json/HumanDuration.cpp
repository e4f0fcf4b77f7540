#include "HumanDuration.hpp"

#include <iomanip>

std::ostream& print_human_duration(std::ostream& out,
                                   std::chrono::duration<std::int64_t> duration) {
    const std::int64_t total = duration.count();
    const std::int64_t days = total / 86400;
    const std::int64_t rest = total - days * 86400;
    const std::int64_t hours = rest / 3600;
    const std::int64_t minutes = (rest - hours * 3600) / 60;
    const std::int64_t seconds = rest - hours * 3600 - minutes * 60;

    const char previous_fill = out.fill('0');
    out << std::setw(2) << days << "d:" << std::setw(2) << hours << "h:" << std::setw(2) << minutes
        << "m:" << std::setw(2) << seconds << "s";
    out.fill(previous_fill);
    return out << " (total seconds: " << total << ")";
}
