// Feeds arbitrary frames through an in-process ZeroMQ socket pair into
// kelnom::Receiver. Behind every ZeroMQ message of the input goes a
// well-formed request (the sentinel) that must still be read from its start,
// and must be the very next request read after any other: every read, accepted
// or rejected, takes its whole message and leaves the socket at the start of
// the next.
//
// Input layout:
//   byte 0   socket pair: even = DEALER to ROUTER, read as the node's
//            channeler does (receiveRouted: identity frame first);
//            odd = DEALER to DEALER, read as a client's dispenser does
//            (receive).
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

using kelno_fuzz::check;
using kelno_fuzz::Outcome;
using kelno_fuzz::outcome_of;
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

// The frames grouped into ZeroMQ messages: each ends at a frame without more.
std::vector<std::vector<InputFrame>> split_messages(std::vector<InputFrame> frames) {
    std::vector<std::vector<InputFrame>> messages(frames.empty() ? 0 : 1);
    for (auto& frame : frames) {
        const bool ends_message = !frame.more;
        messages.back().push_back(std::move(frame));
        if (ends_message && &frame != &frames.back()) messages.emplace_back();
    }
    return messages;
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
        kelnom::RoutedRequest routed = receiver.receiveRouted();
        route = std::move(routed.peer);
        return std::move(routed.request);
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

// Reads until the sentinel `id` comes. Every read takes at least one frame and
// stays within one ZeroMQ message; a ROUTER adds one identity frame per
// message, so it must come within this many reads.
void read_through_sentinel(SocketPair& pair, std::size_t frames_before, const std::string& id) {
    const std::size_t read_limit = frames_before + 2;
    // Set once a read has ended: it took its whole message, whatever it
    // found, so the socket stands at the start of the sentinel's.
    bool sentinel_is_next = false;
    for (std::size_t reads = 0; reads < read_limit; ++reads) {
        std::string route;
        std::unique_ptr<Request> request;
        const Outcome outcome = outcome_of([&] { request = pair.readOne(route); });
        if (outcome == Outcome::accepted) {
            check(request != nullptr, "receive() returned no request");
            const auto* ack = dynamic_cast<const Ack*>(request.get());
            if (ack != nullptr && ack->messageId() == id) {
                check(!pair.readsIdentity() || route == dealer_identity,
                      "the request behind the input was read without its identity frame");
                return;
            }
        }
        check(!sentinel_is_next, "a read did not start at the message that followed");
        sentinel_is_next = true;
    }
    check(false, "the request behind the input was not read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::uint64_t sentinels = 0;
    SocketPair& pair = pair_for(size > 0 ? data[0] : 0);
    const auto messages = split_messages(
        size > 0 ? split_frames(data + 1, size - 1) : std::vector<InputFrame>{});

    // A fresh id for every sentinel: a copy of an earlier one inside the input
    // cannot pass for it.
    const std::uint64_t first_sentinel = sentinels + 1;
    for (const auto& message : messages) {
        pair.send(message);
        pair.sendSentinel("fuzz-sentinel-" + std::to_string(++sentinels));
    }
    pair.sendSentinel("fuzz-sentinel-" + std::to_string(++sentinels));

    std::uint64_t sentinel = first_sentinel;
    for (const auto& message : messages) {
        read_through_sentinel(pair, 2 * message.size(), "fuzz-sentinel-" + std::to_string(sentinel++));
    }
    // One more behind the last sentinel (for an input without frames, the only one).
    read_through_sentinel(pair, 0, "fuzz-sentinel-" + std::to_string(sentinel));
    return 0;
}
