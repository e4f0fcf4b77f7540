#include "PayloadPrinting.hpp"

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

void print_delivered_payload(std::ostream& out, const kelnom::Payload& payload) {
    if (payload.type() == "text") {
        // Bounded by the payload's size: a sender need not end its text with a zero byte.
        const char* begin = payload.getBuffer();
        const char* end =
            payload.size() == 0 ? begin : std::find(begin, begin + payload.size(), '\0');
        out << "Payload reads: ";
        out.write(begin, end - begin);
        out << std::endl;
    } else {
        out << "Payload is unreadable as it is not text." << std::endl;
    }
    out << std::endl;
}

void print_registry(std::ostream& out, const kelnom::Registry& registry) {
    const kelnom::Payload& payload = registry.payload();
    std::string text;
    if (payload.size() > 0) text.assign(payload.getBuffer(), payload.size());
    const nlohmann::json document = nlohmann::json::parse(text);
    // The stream's width (0 here) is the indentation: compact output.
    out << "Received registry: " << document << std::endl;
}
