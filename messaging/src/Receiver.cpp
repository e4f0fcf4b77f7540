#include <kelnom/Receiver.hpp>

#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include <kelnom/Ack.hpp>
#include <kelnom/Exception.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Inbox.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>
#include <kelnom/PayloadRequest.hpp>
#include <kelnom/Registry.hpp>
#include <kelnou/Exception.hpp>
#include <kelnou/Printable.hpp>

namespace kelnom {

using internal_objects::PayloadRequest;
using internal_objects::Request;

namespace {

// ZeroMQ's receive batch (its default ZMQ_IN_BATCH_SIZE): frames up to this
// size may share one buffer; larger ones get a buffer of their own.
constexpr std::uint32_t shared_receive_buffer_size = 8192;

const std::string missing_key_text =
    "Payload detected but provided protocol headers have missing key. Missing key is: ";

// Takes a payload header out of the map, or names the missing key.
std::string take_payload_header(HeaderMap& headers, const char* key) {
    auto entry = headers.find(key);
    if (entry == headers.end()) throw ProtocolError(missing_key_text + key);
    std::string value = std::move(entry->second);
    headers.erase(entry);
    return value;
}

// "p_size" as a payload size. A value that is not a number at all raises the
// standard "stoull" error unchanged; callers rely on telling it apart.
std::uint32_t parse_payload_size(const std::string& text) {
    const unsigned long long size = std::stoull(text);
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        throw ProtocolError("Payload size in \"p_size\" is out of range: " + std::to_string(size) +
                            ". Largest allowed is " +
                            std::to_string(std::numeric_limits<std::uint32_t>::max()));
    }
    return static_cast<std::uint32_t>(size);
}

std::pair<std::string, std::string> split_header_frame(const char* data, int size) {
    // A zero byte before the separator counts as no separator at all.
    const std::size_t searched = strnlen(data, static_cast<std::size_t>(size));
    const void* separator = std::memchr(data, Request::_hdr_sep, searched);
    if (separator == nullptr) {
        throw ProtocolError(
            std::string("Headers formatted incorrectly in request. No \"") + Request::_hdr_sep +
            "\" found in \"" +
            kelnou::printable(std::string_view(data, static_cast<std::size_t>(size))) + "\"");
    }
    const auto key_size = static_cast<std::size_t>(static_cast<const char*>(separator) - data);
    return {std::string(data, key_size),
            std::string(data + key_size + 1, static_cast<std::size_t>(size) - key_size - 1)};
}

constexpr const char* routes_context = "While trying to receive routes of request";
constexpr const char* headers_context = "While trying to receive headers";
constexpr const char* protocol_headers_context =
    "While trying to receive protocol headers of request";
constexpr const char* payload_context = "While trying to receive payload";
constexpr const char* termination_context = "While trying to receive termination delimiter";
const std::string more_frames_text = "Expected more frames. Next section: ";

std::string decode_context_line(const std::string& command) {
    std::string line = "While trying to decode a received request";
    if (!command.empty()) line += " (" + command + ")";
    return line;
}

}  // namespace

Receiver::Receiver(Receiver&& other) noexcept
    : socket(other.socket),
      frame(std::move(other.frame)),
      payload_frame(std::move(other.payload_frame)),
      last_frame_size(other.last_frame_size) {
    other.socket = nullptr;
    other.last_frame_size = 0;
}

int Receiver::readFrame() {
    const std::size_t size = socket->recv(frame);
    // Frame sizes are ints throughout; a larger one would turn negative.
    if (size > static_cast<std::size_t>(INT_MAX)) {
        last_frame_size = 0;
        throw ProtocolError("Frame too large: " + std::to_string(size) + " bytes");
    }
    last_frame_size = static_cast<int>(size);
    return last_frame_size;
}

bool Receiver::is_delimiter_frame() const { return last_frame_size == 1 && frameData()[0] == '\0'; }

void Receiver::expectMore(std::string section) {
    if (!socket->checkMore()) throw ProtocolError(more_frames_text + section);
}

void Receiver::expectMore(const char* section) {
    if (!socket->checkMore()) throw ProtocolError(more_frames_text + section);
}

std::vector<std::string> Receiver::receive_routes() {
    return kelnou::with_context(routes_context, [&] {
        std::vector<std::string> routes;
        readFrame();  // starts a message: nothing to check before it
        while (!is_delimiter_frame()) {
            routes.push_back(frameText());
            expectMore("Route delimiter frame");
            readFrame();
        }
        return routes;
    });
}

std::string Receiver::receive_command() {
    expectMore("Request/Command name");
    readFrame();
    return frameText();
}

HeaderMap Receiver::receive_headers() {
    return kelnou::with_context(headers_context, [&] {
        HeaderMap headers;
        expectMore("Headers");
        readFrame();
        while (!is_delimiter_frame()) {
            auto [key, value] = split_header_frame(frameData(), last_frame_size);
            headers[std::move(key)] = std::move(value);  // the last occurrence wins
            expectMore("Header delimiter");
            readFrame();
        }
        return headers;
    });
}

std::unique_ptr<Payload> Receiver::receive_payload(HeaderMap& headers) {
    return kelnou::with_context(payload_context, [&] {
        expectMore("Payload");
        const std::uint32_t expected_size =
            parse_payload_size(take_payload_header(headers, PayloadRequest::_payload_sz_hdr_key));
        std::string type = take_payload_header(headers, PayloadRequest::_payload_type_hdr_key);

        // The frame is received whole before anything is allocated for it, so
        // nothing is allocated for what the peer merely announced.
        const std::size_t received_size = socket->recv(payload_frame);
        if (received_size != expected_size) {
            throw ProtocolError("Payload size does not match \"p_size\". Expected " +
                                std::to_string(expected_size) + " bytes, received " +
                                std::to_string(received_size));
        }
        if (socket->checkMore()) {
            throw ProtocolError("We don't expect more frames after the payload");
        }

        if (expected_size <= shared_receive_buffer_size) {
            // ZeroMQ may hand a small frame over as a slice of a receive buffer
            // it shares between frames; a stored message would keep all of it
            // alive, so a small body gets a buffer of its own.
            auto payload = std::make_unique<Payload>(expected_size, std::move(type));
            if (expected_size > 0) {
                std::memcpy(payload->getBuffer(), payload_frame.data(), expected_size);
            }
            payload_frame = cplt::Frame();  // does not pin the shared buffer till the next read
            return payload;
        }
        // A large frame arrives in a buffer of its own: keep it, no copy. The
        // move keeps the bytes where they are (ZeroMQ counts references to
        // them), and leaves our reusable frame empty.
        auto frame_owner = std::make_unique<cplt::Frame>(std::move(payload_frame));
        auto payload =
            std::make_unique<Payload>(frame_owner->data(), expected_size, std::move(type),
                                      [owner = frame_owner.get()](char*) { delete owner; });
        frame_owner.release();  // now owned by the payload's free callback
        return payload;
    });
}

void Receiver::receive_termination() {
    kelnou::with_context(termination_context, [&] {
        expectMore("Termination frame");
        readFrame();
        if (!is_delimiter_frame()) {
            throw ProtocolError("Expected a delimiter frame for termination");
        }
    });
}

std::unique_ptr<Request> Receiver::receive() {
    std::string command;
    try {
        std::vector<std::string> routes = receive_routes();
        command = receive_command();
        HeaderMap headers =
            kelnou::with_context(protocol_headers_context, [&] { return receive_headers(); });
        std::unique_ptr<Request> request = decode(command, std::move(routes), headers);
        socket->flushMessage();  // frames after the request's end are not a request
        return request;
    } catch (kelnou::Exception& e) {
        // The line names the command once it is known; the flush leaves the
        // socket at the start of the next message.
        e.addContext(decode_context_line(command));
        socket->flushMessage();
        throw;
    } catch (...) {
        // A standard error ("stoll", "stoull", ...) passes through as it is,
        // but never leaves half a message behind.
        socket->flushMessage();
        throw;
    }
}

std::unique_ptr<Request> Receiver::receiveAfterLeadingFrame(std::string& leading,
                                                            const char* next_section) {
    try {
        readFrame();
        leading.assign(frameData(), static_cast<std::size_t>(last_frame_size));
        expectMore(next_section);
    } catch (...) {
        socket->flushMessage();
        throw;
    }
    return receive();
}

RoutedRequest Receiver::receiveRouted() {
    RoutedRequest routed;
    routed.request = receiveAfterLeadingFrame(routed.peer, "");
    return routed;
}

PublishedRequest Receiver::receivePublished() {
    PublishedRequest published;
    published.request = receiveAfterLeadingFrame(published.topic, "Routes or delimiter");
    return published;
}

std::unique_ptr<Request> Receiver::decode(const std::string& command,
                                          std::vector<std::string> routes, HeaderMap& headers) {
    if (command == Message::_wire_name) {
        std::unique_ptr<Payload> payload = receive_payload(headers);
        return std::make_unique<Message>(std::move(*payload), std::move(routes), headers);
    }
    if (command == Registry::_wire_name) {
        std::unique_ptr<Payload> payload = receive_payload(headers);
        return std::make_unique<Registry>(std::move(*payload), headers);
    }
    if (command == internal_objects::Inbox::_wire_name) {
        receive_termination();
        return std::make_unique<internal_objects::Inbox>(headers);
    }
    if (command == internal_objects::Ack::_wire_name) {
        receive_termination();
        return std::make_unique<internal_objects::Ack>(headers);
    }
    if (command == internal_objects::GetRegistry::_wire_name) {
        receive_termination();
        return std::make_unique<internal_objects::GetRegistry>(headers);
    }
    throw ProtocolError("Unrecognised command name: " + kelnou::printable(command));
}

}  // namespace kelnom
