#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelno_test {

using Frames = std::vector<std::string>;

// A ZeroMQ socket driven frame by frame with plain libzmq, so the tests check
// the daemon's bytes independently of our own framing code. Every receive is
// bounded.
class RawPeer {
public:
    // `type` is a libzmq socket type (ZMQ_DEALER, ZMQ_SUB, ZMQ_ROUTER).
    explicit RawPeer(int type, const std::string& identity = "");
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // Makes the next connections CURVE clients of the server with public key
    // `server_key`, with the peer's own pair (all Z85 text).
    void useCurve(const std::string& server_key, const std::string& public_key,
                  const std::string& secret_key);
    void connect(const std::string& endpoint);
    // Binds on a free loopback port; returns the endpoint.
    std::string bindLoopback();
    void subscribe(const std::string& prefix);
    // Makes the peer take in as little as possible while it does not read.
    void readSlowly();

    void send(const Frames& frames);
    // Sends without waiting; false when the peer's queue had no room for the
    // first frame (nothing was sent then).
    bool trySend(const Frames& frames);
    // Closes once what was sent has left (bounded), instead of dropping it.
    void closeAfterSending();
    // The next whole message, or nothing after `timeout`.
    std::optional<Frames> receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void* context;
    void* socket;  // null once closed
};

// Frame sequences of the protocol, as a peer of the daemon writes them.
extern const std::string delimiter;  // one zero byte

std::string fresh_message_id();  // UUID-shaped text

struct WireMessage {
    std::vector<std::string> routes;
    std::string app_id = "app";
    std::string id = fresh_message_id();
    std::string origin = ",";
    std::string payload = "hello";
    std::string type = "text";
    std::string valid_for = "20";
    std::string ack_mode = "1";
    std::optional<std::string> payload_size;  // "p_size" as written; the payload's size if unset

    // The seven headers in wire order.
    Frames headerFrames() const;
    Frames frames() const;  // routes, delimiter, "MSG", headers, delimiter, payload
};

Frames ack_frames(const std::string& message_id);
Frames inbox_frames(const std::string& polled_name, const std::string& box_type);
Frames registry_query_frames();
Frames registry_reply_frames(const std::string& json_text);

// A subscriber's view of a publication: the topic, then the message frames.
Frames publication_frames(const WireMessage& message);

}  // namespace kelno_test
