#pragma once

#include <memory>
#include <string>
#include <vector>

#include <cplt/Socket.hpp>
#include <kelnom/Request.hpp>

namespace kelnom {

class Payload;

// A request read from a ROUTER, with the identity of the peer that sent it.
struct RoutedRequest {
    std::string peer;
    std::unique_ptr<internal_objects::Request> request;  // never null
};

// A request read from a SUB socket, with the topic it was published under.
struct PublishedRequest {
    std::string topic;
    std::unique_ptr<internal_objects::Request> request;  // never null
};

// Reads one request at a time from a socket it does not own, checks its shape
// section by section, and decodes it into the class its command names. One
// ZeroMQ message is one request: after any error (ours, or a standard
// conversion error from a header's number, passed through unchanged) the rest
// of the message is discarded, and so are frames after a request's end, so the
// next receive always starts at the next message.
class Receiver {
public:
    explicit Receiver(cplt::Socket* socket) : socket(socket) {}
    Receiver(Receiver&& other) noexcept;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    virtual ~Receiver() = default;

    // Reads the next frame whole (no truncation, no copy); returns its size.
    int readFrame();
    // The bytes of the last frame read (lastFrameSize() of them), valid until
    // the next read.
    const char* frameData() const { return frame.data(); }
    int lastFrameSize() const { return last_frame_size; }
    std::string frameText() const { return std::string(frameData(), last_frame_size); }

    bool is_delimiter_frame() const;
    // ProtocolError "Expected more frames. Next section: <section>" when the
    // frame just read ended its message.
    void expectMore(std::string section);
    // The same; the text is built only when it is raised.
    void expectMore(const char* section);

    std::vector<std::string> receive_routes();
    std::string receive_command();
    HeaderMap receive_headers();
    std::unique_ptr<Payload> receive_payload(HeaderMap& headers);
    void receive_termination();

    // One whole request; never null.
    std::unique_ptr<internal_objects::Request> receive();
    // The peer's identity frame, then one request (ROUTER sockets).
    RoutedRequest receiveRouted();
    // The topic frame, then one request (SUB sockets).
    PublishedRequest receivePublished();

    cplt::Socket* getSocket() const { return socket; }

private:
    // Reads the leading frame of a routed or published message, then the request.
    std::unique_ptr<internal_objects::Request> receiveAfterLeadingFrame(std::string& leading,
                                                                        const char* next_section);
    // Reads what follows the headers for `command` and builds its request.
    std::unique_ptr<internal_objects::Request> decode(const std::string& command,
                                                      std::vector<std::string> routes,
                                                      HeaderMap& headers);

    cplt::Socket* socket;
    cplt::Frame frame;  // the last frame read, reused for every read
    // The payload frame, reused too: a small body is copied out of it, a
    // large one takes it over (so only large bodies allocate a frame).
    cplt::Frame payload_frame;
    int last_frame_size = 0;
};

}  // namespace kelnom
