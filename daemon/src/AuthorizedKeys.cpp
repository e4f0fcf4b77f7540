#include "AuthorizedKeys.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <cplt/Curve.hpp>
#include <kelnou/Printable.hpp>

#include "Console.hpp"

namespace kelnod {

namespace {

constexpr const char* kBlanks = " \t\r";

std::string trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

AuthorizedKeys::AuthorizedKeys(const std::string& path) {
    const std::string setting = "kelno.secure.authorized_keys";
    if (path.empty()) {
        report(setting + " is not set; the secure port refuses every peer");
        return;
    }
    std::ifstream file(path);
    if (!file) {
        report(setting + ": cannot read " + path + " (" + std::strerror(errno) +
               "); the secure port refuses every peer");
        return;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string text = trimmed(line);
        if (text.empty()) continue;
        const auto key_end = text.find_first_of(kBlanks);
        const std::string first_word = text.substr(0, key_end);
        const std::string rest =
            key_end == std::string::npos ? std::string() : trimmed(text.substr(key_end));
        if (auto key = cplt::curve_key_bytes(first_word); key && (rest.empty() || rest[0] == '#')) {
            keys.insert(*key);
            continue;
        }
        if (text[0] == '#') continue;
        report(setting + ": " + path + " line " + std::to_string(number) +
               " is not a public key (40 characters of Z85 text), ignored: " +
               kelnou::printable(text, 60));
    }
    if (keys.empty()) {
        report(setting + ": " + path + " holds no key; the secure port refuses every peer");
    }
}

}  // namespace kelnod
