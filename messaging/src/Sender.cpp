#include <kelnom/Sender.hpp>

#include <cstring>
#include <string>

#include <cplt/Socket.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/PayloadRequest.hpp>
#include <kelnom/Request.hpp>
#include <kelnou/Exception.hpp>

namespace kelnom {

namespace {

constexpr const char* payload_request_context = "While trying to send frames of payload request";
constexpr const char* request_context = "While trying to send frames of request";

// Header lines up to this size are put together on the stack.
constexpr std::size_t stack_line_size = 256;

const std::vector<std::string> no_routes;

}  // namespace

void Sender::send(const Message& message, const std::string* leading_frame) {
    send_payload_request(message, message.pushRoutes(), leading_frame);
}

void Sender::send(const internal_objects::PayloadRequest& request,
                  const std::string* leading_frame) {
    if (request.kind() == RequestKind::Message) {
        send(static_cast<const Message&>(request), leading_frame);
        return;
    }
    send_payload_request(request, no_routes, leading_frame);
}

void Sender::send(const internal_objects::Request& request, const std::string* leading_frame) {
    // By the request's real kind: a message sent as a Request keeps its
    // routes and payload.
    switch (request.kind()) {
        case RequestKind::Message:
            send(static_cast<const Message&>(request), leading_frame);
            return;
        case RequestKind::Registry:
            send(static_cast<const internal_objects::PayloadRequest&>(request), leading_frame);
            return;
        case RequestKind::Inbox:
        case RequestKind::Ack:
        case RequestKind::GetRegistry:
            break;
    }
    kelnou::with_context(request_context, [&] {
        if (leading_frame != nullptr) socket->send(*leading_frame, true);
        send_delimiter(true);  // no routes
        send_command(request);
        send_protocol_headers(request);
        send_delimiter(false);  // termination
    });
}

void Sender::send_payload_request(const internal_objects::PayloadRequest& request,
                                  const std::vector<std::string>& routes,
                                  const std::string* leading_frame) {
    kelnou::with_context(payload_request_context, [&] {
        if (leading_frame != nullptr) socket->send(*leading_frame, true);
        send_push_routes(routes);
        send_command(request);
        send_protocol_headers(request);
        // The payload's own buffer goes to the socket: no copy on our side.
        const Payload& payload = request.payload();
        socket->send(payload.getBuffer(), payload.size(), false);
    });
}

void Sender::send_push_routes(const std::vector<std::string>& routes) {
    for (const std::string& route : routes) socket->send(route, true);
    send_delimiter(true);
}

void Sender::send_command(const internal_objects::Request& request) {
    const char* command = request.wireName();
    socket->send(command, static_cast<unsigned>(std::strlen(command)), true);
}

void Sender::send_protocol_headers(const internal_objects::Request& request) {
    const HeaderMap headers = request.create_protocol_headers();
    char line[stack_line_size];
    for (const auto& [key, value] : headers) {
        const std::size_t size = key.size() + 1 + value.size();
        if (size > sizeof line) {
            socket->send(key + internal_objects::Request::_hdr_sep + value, true);
            continue;
        }
        std::memcpy(line, key.data(), key.size());
        line[key.size()] = internal_objects::Request::_hdr_sep;
        std::memcpy(line + key.size() + 1, value.data(), value.size());
        socket->send(line, static_cast<unsigned>(size), true);
    }
    send_delimiter(true);
}

void Sender::send_delimiter(bool more) {
    static const char delimiter = '\0';
    socket->send(&delimiter, 1, more);
}

}  // namespace kelnom
