#include "TempDir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kelno_test {

TempDir::TempDir() {
    std::string pattern = "/tmp/kelno_test_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    std::string full = dir + "/" + name;
    std::ofstream out(full, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("could not write " + full);
    return full;
}

}  // namespace kelno_test
