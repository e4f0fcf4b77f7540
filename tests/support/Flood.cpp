#include "Flood.hpp"

#include <zmq.h>

#include <exception>

namespace kelno_test {

Flood::Flood(const std::string& channeler_endpoint, WireMessage message)
    : thread([this, channeler_endpoint, frames = message.frames()] {
          run(channeler_endpoint, frames);
      }) {}

Flood::~Flood() { stop(); }

bool Flood::waitForAcks(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return acks >= count; });
}

bool Flood::stop() {
    stopping = true;
    if (thread.joinable()) thread.join();
    return !failed;
}

void Flood::counted(std::size_t new_acks) {
    if (new_acks == 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        acks += new_acks;
    }
    changed.notify_all();
}

void Flood::run(const std::string& endpoint, const Frames& frames) {
    using namespace std::chrono_literals;
    try {
        RawPeer peer(ZMQ_DEALER);
        peer.connect(endpoint);
        while (!stopping) {
            // A full queue (the daemon busy or gone) waits for a reply instead.
            const bool sent = peer.trySend(frames);
            std::size_t replies = 0;
            while (peer.receive(sent ? 0ms : 10ms)) ++replies;
            counted(replies);
        }
    } catch (const std::exception&) {
        failed = true;
    }
}

}  // namespace kelno_test
