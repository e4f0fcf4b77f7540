// Feeds arbitrary frames through an in-process ZeroMQ socket pair into
// kelnom::Receiver::receive(), then sends a well-formed request behind them
// that must still be read from its start.
//
// Input layout:
//   byte 0   socket pair: even = DEALER to ROUTER, read as the node's
//            channeler does (identity frame first, flush after each request);
//            odd = DEALER to DEALER, read as a client's dispenser does.
//   then     frames, each: [flags: 1 byte][length: 2 bytes, little endian][bytes]
//            flags bit 0 set = more parts of the same ZeroMQ message follow.
//            A length past the end takes what is left; fewer than 3 bytes
//            left end the list. The last frame is always sent without more
//            (ZeroMQ would otherwise hold the message back). Frames after
//            the 256th are ignored, which keeps below ZeroMQ's queue limits.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <cplt/Socket.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Request.hpp>
#include <kelnom/Sender.hpp>

#include "FuzzSupport.hpp"

namespace {

using kelno_fuzz::accepted;
using kelno_fuzz::check;
using kelnom::internal_objects::Ack;
using kelnom::internal_objects::Request;

constexpr std::size_t max_frames = 256;
const std::string dealer_identity = "fuzz|disp";

struct InputFrame {
    std::string bytes;
    bool more;
};

std::vector<InputFrame> split_frames(const std::uint8_t* data, std::size_t size) {
    std::vector<InputFrame> frames;
    std::size_t at = 0;
    while (size - at >= 3 && frames.size() < max_frames) {
        const bool more = (data[at] & 1) != 0;
        std::size_t length = data[at + 1] | (static_cast<std::size_t>(data[at + 2]) << 8);
        at += 3;
        if (length > size - at) length = size - at;
        frames.push_back({std::string(reinterpret_cast<const char*>(data + at), length), more});
        at += length;
    }
    if (!frames.empty()) frames.back().more = false;
    return frames;
}

// One sending DEALER connected to a receiving socket, with the receiver bound
// to it. Built once per process and reused for every input.
class SocketPair {
public:
    SocketPair(cplt::SocketType receiving_type, const std::string& endpoint)
        : receiving(receiving_type),
          reads_identity(receiving_type == cplt::SocketType::Router),
          sender(&sending),
          receiver(&receiving) {
        // Nothing may be left waiting at exit.
        sending.setLingerTimeout(std::chrono::milliseconds(0));
        receiving.setLingerTimeout(std::chrono::milliseconds(0));
        receiving.bind(endpoint);
        sending.setIdentity(dealer_identity);
        sending.connect(endpoint);
    }

    void send(const std::vector<InputFrame>& frames) {
        for (const auto& frame : frames) {
            sending.send(frame.bytes.data(), static_cast<unsigned>(frame.bytes.size()), frame.more);
        }
    }

    void sendSentinel(const std::string& id) { sender.send(Ack(id), nullptr); }

    // One request as its real reader takes it; `route` gets the identity.
    std::unique_ptr<Request> readOne(std::string& route) {
        if (!reads_identity) return receiver.receive();
        receiver.readFrame();
        route = receiver.frameText();
        receiver.expectMore("");
        auto request = receiver.receive();
        receiving.flushMessage();
        return request;
    }

    bool readsIdentity() const { return reads_identity; }

private:
    cplt::Socket sending{cplt::SocketType::Dealer};
    cplt::Socket receiving;
    bool reads_identity;
    kelnom::Sender sender;
    kelnom::Receiver receiver;
};

SocketPair& pair_for(std::uint8_t selector) {
    static SocketPair to_router(cplt::SocketType::Router, "inproc://fuzz-receiver-router");
    static SocketPair to_dealer(cplt::SocketType::Dealer, "inproc://fuzz-receiver-dealer");
    return (selector & 1) == 0 ? to_router : to_dealer;
}

// Reads until the sentinel comes. Every read takes at least one frame and
// stays within one ZeroMQ message; a ROUTER adds one identity frame per
// message, so the sentinel must come within this many reads.
void read_through_sentinel(SocketPair& pair, std::size_t frames_sent, const std::string& id) {
    const std::size_t read_limit = 2 * frames_sent + 1;
    for (std::size_t reads = 0; reads < read_limit; ++reads) {
        std::string route;
        std::unique_ptr<Request> request;
        if (!accepted([&] { request = pair.readOne(route); })) continue;
        check(request != nullptr, "receive() returned no request");
        const auto* ack = dynamic_cast<const Ack*>(request.get());
        if (ack != nullptr && ack->messageId() == id) {
            check(!pair.readsIdentity() || route == dealer_identity,
                  "the request behind the input was read without its identity frame");
            return;
        }
    }
    check(false, "the request behind the input was not read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::uint64_t inputs = 0;
    SocketPair& pair = pair_for(size > 0 ? data[0] : 0);
    const std::vector<InputFrame> frames =
        size > 0 ? split_frames(data + 1, size - 1) : std::vector<InputFrame>{};
    // A fresh id per input: a copy of an earlier sentinel inside the input
    // cannot pass for this one.
    const std::string sentinel_id = "fuzz-sentinel-" + std::to_string(++inputs);
    pair.send(frames);
    pair.sendSentinel(sentinel_id);
    read_through_sentinel(pair, frames.size(), sentinel_id);
    return 0;
}
