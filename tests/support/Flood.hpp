#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "RawPeer.hpp"

namespace kelno_test {

// Traffic for tests that must hit a daemon while it is busy: one message after
// another to its channeler, from a thread of its own, as fast as the daemon
// takes them, until stopped. The acknowledgements are read and counted.
class Flood {
public:
    explicit Flood(const std::string& channeler_endpoint, WireMessage message = {});
    ~Flood();  // stops
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    // True once `count` acknowledgements have come back, false after `timeout`.
    bool waitForAcks(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Stops sending and joins; true unless sending failed.
    bool stop();

private:
    void run(const std::string& endpoint, const Frames& frames);
    void counted(std::size_t new_acks);

    std::atomic<bool> stopping{false};
    std::atomic<bool> failed{false};
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::size_t acks = 0;
    std::thread thread;
};

}  // namespace kelno_test
