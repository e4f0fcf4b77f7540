#include "ProcessUsage.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace kelno_test {

long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::chrono::milliseconds cpu_time(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold blanks; the fields after it do not.
    const auto name_end = text.rfind(')');
    if (name_end == std::string::npos) return std::chrono::milliseconds(-1);
    std::istringstream fields(text.substr(name_end + 2));
    std::string field;
    long long user = 0, system = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::stoll(field);
        if (index == 15) system = std::stoll(field);
    }
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    return std::chrono::milliseconds((user + system) * 1000 / ticks_per_second);
}

}  // namespace kelno_test
