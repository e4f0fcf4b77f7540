#include "Payloads.hpp"

#include <stdexcept>
#include <vector>

namespace kelno_bench {

char* shared_payload(std::size_t size) {
    static std::vector<char> bytes = [] {
        std::vector<char> filled(1 << 20);
        for (std::size_t i = 0; i < filled.size(); ++i) filled[i] = static_cast<char>('a' + i % 26);
        return filled;
    }();
    if (size > bytes.size()) throw std::length_error("payload larger than 1 MiB");
    return bytes.data();
}

}  // namespace kelno_bench
