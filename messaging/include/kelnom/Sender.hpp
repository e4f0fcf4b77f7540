#pragma once

#include <string>
#include <vector>

namespace cplt {
class Socket;
}

namespace kelnom {

class Message;
namespace internal_objects {
class Request;
class PayloadRequest;
}  // namespace internal_objects

// Writes requests as frame sequences onto a socket it does not own. Every
// overload writes the request as its real kind says, whatever the static type.
class Sender {
public:
    explicit Sender(cplt::Socket* socket) : socket(socket) {}
    Sender(Sender&& other) noexcept : socket(other.socket) { other.socket = nullptr; }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    virtual ~Sender() = default;

    // `leading_frame` (null: none) goes first: a ROUTER takes it as the peer
    // identity, a PUB sends it as the topic.
    void send(const Message& message, const std::string* leading_frame);
    void send(const internal_objects::PayloadRequest& request, const std::string* leading_frame);
    void send(const internal_objects::Request& request, const std::string* leading_frame);

    void send_push_routes(const std::vector<std::string>& routes);
    void send_command(const internal_objects::Request& request);
    void send_protocol_headers(const internal_objects::Request& request);

private:
    void send_delimiter(bool more);
    void send_payload_request(const internal_objects::PayloadRequest& request,
                              const std::vector<std::string>& routes,
                              const std::string* leading_frame);

    cplt::Socket* socket;
};

}  // namespace kelnom
