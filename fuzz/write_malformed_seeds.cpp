// Writes the receiver target's seeds for the table of malformed frame
// sequences (tests/support/MalformedFrames.hpp) into the folder given, each
// once per socket pair (router_<case>, dealer_<case>), in the input layout
// described in receiver_fuzzer.cpp. The build runs it, so the seeds follow
// the table that the framing and daemon tests use.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "MalformedFrames.hpp"

namespace {

constexpr char router_pair = 0;
constexpr char dealer_pair = 1;

std::string encoded(char pair, const kelno_test::Frames& frames) {
    std::string input(1, pair);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string& bytes = frames[i];
        if (bytes.size() > 0xffff) throw std::length_error("frame too long for a seed");
        input += static_cast<char>(i + 1 < frames.size() ? 1 : 0);
        input += static_cast<char>(bytes.size() & 0xff);
        input += static_cast<char>(bytes.size() >> 8);
        input += bytes;
    }
    return input;
}

void write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "Usage: " << argv[0] << " <folder>" << std::endl;
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::create_directories(folder);
        for (const auto& malformed : kelno_test::malformed_frames()) {
            const std::string name = kelno_test::seed_name(malformed.name);
            write(folder / ("router_" + name), encoded(router_pair, malformed.frames));
            write(folder / ("dealer_" + name), encoded(dealer_pair, malformed.frames));
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return 1;
    }
    return 0;
}
