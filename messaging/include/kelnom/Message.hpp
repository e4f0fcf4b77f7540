#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <kelnom/Ack.hpp>
#include <kelnom/PayloadRequest.hpp>

namespace kelnom {

// An application message ("MSG"): a payload addressed to push routes, with an
// id that stays the same on every hop.
class Message : public internal_objects::PayloadRequest {
public:
    static const char* const _wire_name;

    using Seconds = std::chrono::duration<std::int64_t>;

    // Carried as its integer value only; any int travels.
    enum class AckMode : int {
        NoAck = 0,
        Ack = 1,
    };

    struct Config {
        Config() = default;
        Config(std::string app_id, std::vector<std::string> push_routes, Seconds valid_for,
               AckMode ack_mode)
            : app_id(std::move(app_id)),
              push_routes(std::move(push_routes)),
              valid_for(valid_for),
              ack_mode(ack_mode) {}

        std::string app_id;
        std::vector<std::string> push_routes;
        Seconds valid_for;
        AckMode ack_mode;
    };

    // A new outgoing message with a fresh id and no origin nodes.
    Message(Payload payload, Config config);
    // Decoding constructor used by the receiver.
    Message(Payload payload, std::vector<std::string> routes, HeaderMap& headers);

    // A copy is a new message: fresh id, no origin nodes.
    Message(const Message& other);
    Message& operator=(const Message&) = delete;
    Message(Message&&) = default;
    Message& operator=(Message&&) = default;

    const char* wireName() const override { return _wire_name; }
    RequestKind kind() const override { return RequestKind::Message; }

    void generate_new_id();
    const std::string& msgId() const { return message_id; }
    const std::string& appId() const { return config.app_id; }
    const std::vector<std::string>& pushRoutes() const { return config.push_routes; }
    Seconds validFor() const { return config.valid_for; }
    internal_objects::Ack generate_ack() const { return internal_objects::Ack(message_id); }
    void appendOriginNode(std::string node_name) { origin_nodes.push_back(std::move(node_name)); }

    HeaderMap create_protocol_headers() const override;
    void handle_protocol_headers(HeaderMap& headers) override;

private:
    void decode_headers(HeaderMap& headers);

    std::string message_id;
    std::vector<std::string> origin_nodes;
    Config config;
};

}  // namespace kelnom
