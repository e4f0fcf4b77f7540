// Runs a fuzz target once on every file of the folders (or files) given on
// the command line, so a corpus is replayed as an ordinary test without
// libFuzzer. Exits non-zero when a folder holds no input at all, so a corpus
// that went missing cannot pass unnoticed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
    } else {
        inputs.push_back(path);
    }
    std::sort(inputs.begin(), inputs.end());  // the same order on every run
    return inputs;
}

std::vector<char> read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Usage: " << (argc > 0 && argv[0] ? argv[0] : "fuzz_replay")
                  << " <corpus folder or file>..." << std::endl;
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& input : inputs_of(argv[i])) {
            const std::vector<char> bytes = read_file(input);
            std::cout << "Replaying " << input.string() << " (" << bytes.size() << " bytes)"
                      << std::endl;
            // A finding aborts inside the target, naming the input above.
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::cerr << "No inputs found to replay" << std::endl;
        return 1;
    }
    std::cout << "Replayed " << replayed << " inputs" << std::endl;
    return 0;
}
