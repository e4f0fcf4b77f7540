#include <kelnou/Properties.hpp>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace kelnou {

namespace {

// Applies one line of the file: "#" cuts the line, the first "=" splits key from
// value, nothing is trimmed, and the first definition of a key wins.
void add_line(std::map<std::string, std::string>& values, std::string line) {
    const auto comment = line.find('#');
    if (comment != std::string::npos) {
        line.erase(comment);
    }
    const auto separator = line.find('=');
    if (separator == std::string::npos) {
        return;
    }
    values.emplace(line.substr(0, separator), line.substr(separator + 1));
}

}  // namespace

bool Properties::load(const char* path) {
    std::ifstream file(path);
    // A directory opens as a stream here, yet it is no file to read settings from.
    std::error_code ignored;
    if (!file.is_open() || std::filesystem::is_directory(path, ignored)) {
        std::cout << "Failed to load input file " << path << std::endl;
        return false;
    }
    values.clear();
    // Lines of any length are read whole, so a long value cannot silently end
    // the file early.
    std::string line;
    while (std::getline(file, line)) {
        add_line(values, std::move(line));
        line.clear();
    }
    return true;
}

const char* Properties::getString(const char* key, const char* default_value) const {
    const auto entry = values.find(key);
    return entry == values.end() ? default_value : entry->second.c_str();
}

int Properties::getInt(const char* key, int default_value) const {
    const auto entry = values.find(key);
    if (entry == values.end()) {
        return default_value;
    }
    // The target's long is 32 bits, so strtol saturates at the int limits there;
    // clamp here to give the same values on a 64-bit build.
    const long value = std::strtol(entry->second.c_str(), nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

}  // namespace kelnou
