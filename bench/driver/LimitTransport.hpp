#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "Harness.hpp"

namespace kelno_bench {

// The limit's own ends, straight on libzmq: a DEALER that writes the frames
// of a message as a Kelno client would and reads the acks on the sending
// thread, and a SUB socket read on a thread of its own.
class LimitTransport : public Transport {
public:
    LimitTransport(Progress& progress, int router_port, int pub_port);
    ~LimitTransport() override;

    void publish(std::size_t size) override;
    bool awaitProgress(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout) override;

private:
    void readAcks(long timeout_ms);
    void receive();

    void* context;
    void* dealer;
    void* sub;
    std::uint64_t sequence = 0;
    std::string id_line;
    std::atomic<bool> stopping{false};
    std::thread subscriber_thread;
};

}  // namespace kelno_bench
