#include <kelnou/Printable.hpp>

#include <algorithm>
#include <cstdio>

namespace kelnou {

std::string printable(std::string_view bytes, std::size_t longest) {
    std::string text;
    text.reserve(std::min(bytes.size(), longest));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == longest) {
            text += "... (" + std::to_string(bytes.size()) + " bytes)";
            break;
        }
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

}  // namespace kelnou
