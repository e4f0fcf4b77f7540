#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <kelnom/Client.hpp>

namespace kelno_tools {

// Tells a tool's worker thread that the client's I/O loop has returned.
//
// The loop forgets a terminate() that comes before it starts, and a signal
// ends it without setting the client's termination flag; a worker that stops
// the client, or waits for it to stop, therefore needs this signal as well.
class IoLoopEnd {
public:
    // Called by the I/O thread once blockThreadForIO has returned.
    void markEnded() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ended = true;
        }
        changed.notify_all();
    }

    // True once the loop has returned, false when `timeout` passed first.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [this] { return ended; });
    }

    // Terminates the client and repeats it until the loop has returned, so a
    // worker that finishes before the loop has even started still stops it.
    void terminateClient(kelnom::Client& client) {
        do {
            client.terminate();
        } while (!waitFor(retry_interval));
    }

private:
    static constexpr std::chrono::milliseconds retry_interval{100};

    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
};

}  // namespace kelno_tools
