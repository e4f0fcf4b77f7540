#include "RawPeer.hpp"

#include "FreePort.hpp"

#include <zmq.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace kelno_test {

const std::string delimiter(1, '\0');

RawPeer::RawPeer(int type, const std::string& identity) {
    context = zmq_ctx_new();
    socket = zmq_socket(context, type);
    int no_linger = 0;
    zmq_setsockopt(socket, ZMQ_LINGER, &no_linger, sizeof(no_linger));
    if (!identity.empty()) zmq_setsockopt(socket, ZMQ_ROUTING_ID, identity.data(), identity.size());
}

RawPeer::~RawPeer() {
    if (socket == nullptr) return;
    zmq_close(socket);
    zmq_ctx_term(context);
}

void RawPeer::closeAfterSending() {
    int linger = 5000;
    zmq_setsockopt(socket, ZMQ_LINGER, &linger, sizeof(linger));
    zmq_close(socket);
    zmq_ctx_term(context);
    socket = nullptr;
}

void RawPeer::useCurve(const std::string& server_key, const std::string& public_key,
                       const std::string& secret_key) {
    // With the terminating zero: ZeroMQ reads 41 bytes as Z85 text.
    zmq_setsockopt(socket, ZMQ_CURVE_SERVERKEY, server_key.c_str(), server_key.size() + 1);
    zmq_setsockopt(socket, ZMQ_CURVE_PUBLICKEY, public_key.c_str(), public_key.size() + 1);
    zmq_setsockopt(socket, ZMQ_CURVE_SECRETKEY, secret_key.c_str(), secret_key.size() + 1);
}

void RawPeer::connect(const std::string& endpoint) {
    if (zmq_connect(socket, endpoint.c_str()) != 0) {
        throw std::runtime_error("connect failed: " + endpoint);
    }
}

std::string RawPeer::bindLoopback() {
    // ZeroMQ picks the free port itself, so no other process can take it first.
    if (zmq_bind(socket, any_loopback_port) != 0) throw std::runtime_error("bind failed");
    char endpoint[256] = {};
    size_t size = sizeof(endpoint);
    zmq_getsockopt(socket, ZMQ_LAST_ENDPOINT, endpoint, &size);
    return endpoint;
}

void RawPeer::subscribe(const std::string& prefix) {
    zmq_setsockopt(socket, ZMQ_SUBSCRIBE, prefix.data(), prefix.size());
}

void RawPeer::readSlowly() {
    int one = 1;
    int small_buffer = 1024;
    zmq_setsockopt(socket, ZMQ_RCVHWM, &one, sizeof(one));
    zmq_setsockopt(socket, ZMQ_RCVBUF, &small_buffer, sizeof(small_buffer));
}

void RawPeer::send(const Frames& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        int flags = i + 1 < frames.size() ? ZMQ_SNDMORE : 0;
        if (zmq_send(socket, frames[i].data(), frames[i].size(), flags) < 0) {
            throw std::runtime_error("send failed");
        }
    }
}

bool RawPeer::trySend(const Frames& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        int flags = ZMQ_DONTWAIT | (i + 1 < frames.size() ? ZMQ_SNDMORE : 0);
        if (zmq_send(socket, frames[i].data(), frames[i].size(), flags) >= 0) continue;
        // A message is queued whole: once its first frame is taken, the rest is too.
        if (i == 0 && zmq_errno() == EAGAIN) return false;
        throw std::runtime_error("send failed");
    }
    return true;
}

std::optional<Frames> RawPeer::receive(std::chrono::milliseconds timeout) {
    zmq_pollitem_t item{socket, 0, ZMQ_POLLIN, 0};
    if (zmq_poll(&item, 1, static_cast<long>(timeout.count())) <= 0) return std::nullopt;
    Frames frames;
    zmq_msg_t part;
    zmq_msg_init(&part);
    do {
        if (zmq_msg_recv(&part, socket, 0) < 0) break;
        frames.emplace_back(static_cast<const char*>(zmq_msg_data(&part)), zmq_msg_size(&part));
    } while (zmq_msg_more(&part));
    zmq_msg_close(&part);
    return frames;
}

std::string fresh_message_id() {
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<int> hex_digit(0, 15);
    std::string id;
    for (int group_length : {8, 4, 4, 4, 12}) {
        if (!id.empty()) id += '-';
        for (int i = 0; i < group_length; ++i) id += "0123456789abcdef"[hex_digit(generator)];
    }
    return id;
}

Frames WireMessage::headerFrames() const {
    return {"ack_mode|" + ack_mode,
            "app_id|" + app_id,
            "id|" + id,
            "origin|" + origin,
            "p_size|" + payload_size.value_or(std::to_string(payload.size())),
            "p_type|" + type,
            "valid_for|" + valid_for};
}

Frames WireMessage::frames() const {
    Frames frames = routes;
    frames.push_back(delimiter);
    frames.push_back("MSG");
    for (auto& header : headerFrames()) frames.push_back(header);
    frames.push_back(delimiter);
    frames.push_back(payload);
    return frames;
}

Frames ack_frames(const std::string& message_id) {
    return {delimiter, "ACK", "msg_id|" + message_id, delimiter, delimiter};
}

Frames inbox_frames(const std::string& polled_name, const std::string& box_type) {
    return {delimiter, "BOX",    "app_id|" + polled_name, "box_type|" + box_type,
            delimiter, delimiter};
}

Frames registry_query_frames() { return {delimiter, "GREG", delimiter, delimiter}; }

Frames registry_reply_frames(const std::string& json_text) {
    return {delimiter,     "REG",     "p_size|" + std::to_string(json_text.size()),
            "p_type|JSON", delimiter, json_text};
}

Frames publication_frames(const WireMessage& message) {
    Frames frames{message.app_id};
    for (auto& frame : message.frames()) frames.push_back(frame);
    return frames;
}

}  // namespace kelno_test
