#include "MessageBlock.hpp"

#include <string>

#include "HumanDuration.hpp"

std::optional<nlohmann::json> parse_json_payload(const kelnom::Payload& payload) {
    try {
        std::string text;
        if (payload.size() > 0) text.assign(payload.getBuffer(), payload.size());
        bool too_deep = false;
        auto watch_depth = [&too_deep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            if (depth > max_printed_json_depth) too_deep = true;
            return true;
        };
        nlohmann::json value = nlohmann::json::parse(text, watch_depth);
        if (too_deep) return std::nullopt;
        return value;
    } catch (...) {
        // Whatever went wrong, the payload is simply not shown as JSON.
        return std::nullopt;
    }
}

void print_message_block(std::ostream& out, const kelnom::Message& message) {
    const kelnom::Payload& payload = message.payload();
    const std::optional<nlohmann::json> document = parse_json_payload(payload);

    out << "===== Received Message =====" << std::endl;
    out << "Message Id: " << message.msgId() << std::endl;
    out << "Application id: " << message.appId() << std::endl;
    out << "Valid For:";
    print_human_duration(out, message.validFor()) << std::endl;
    out << "Payload length: " << payload.size() << std::endl;
    out << "Payload type: " << payload.type() << std::endl;
    out << "Payload contents: " << std::endl;
    if (document) {
        out << document->dump(2) << std::endl;
    } else {
        out << "<Unknown data>" << std::endl;
    }
    out << std::endl;
}
