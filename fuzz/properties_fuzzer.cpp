// Loads arbitrary bytes as a properties file, then looks up every key the
// file defines: each must be found with the value of its first definition.
// The input is the file's content, unchanged.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <kelnou/Properties.hpp>

#include "FuzzSupport.hpp"

namespace {

using kelno_fuzz::check;

const std::filesystem::path& input_file() {
    static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                              ("kelno_fuzz_properties_" + std::to_string(getpid()));
    return path;
}

// The definitions of the file, as its syntax defines them: "#" cuts a line,
// the first "=" splits it, nothing is trimmed, the first definition wins.
std::map<std::string, std::string> expected_definitions(const std::string& content) {
    std::map<std::string, std::string> definitions;
    std::size_t line_start = 0;
    while (line_start < content.size()) {
        std::size_t line_end = content.find('\n', line_start);
        if (line_end == std::string::npos) line_end = content.size();
        std::string line = content.substr(line_start, line_end - line_start);
        line = line.substr(0, line.find('#'));
        const auto separator = line.find('=');
        if (separator != std::string::npos) {
            definitions.emplace(line.substr(0, separator), line.substr(separator + 1));
        }
        line_start = line_end + 1;
    }
    return definitions;
}

// What a C string lookup can see of a text: up to its first zero byte.
std::string up_to_zero(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream file(input_file(), std::ios::binary | std::ios::trunc);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    kelnou::Properties properties;
    check(properties.load(input_file().c_str()), "a readable file failed to load");
    std::filesystem::remove(input_file());

    for (const auto& [key, value] : expected_definitions(content)) {
        // A key with a zero byte cannot be named through the C string lookup.
        if (key.find('\0') != std::string::npos) continue;
        const char* found = properties.getString(key.c_str(), nullptr);
        check(found != nullptr, "a defined key was not found");
        check(found == up_to_zero(value), "a key did not keep its first definition");
        properties.getInt(key.c_str(), 0);
    }
    return 0;
}
