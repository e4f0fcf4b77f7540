#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Messages sent from the prompt whose acknowledgement has not come back yet.
// The prompt waits for them before it stops the client: the client drops what
// is still queued, and a script's last message would otherwise be lost.
class PendingAcknowledgements {
public:
    void sent() {
        std::lock_guard<std::mutex> lock(mutex);
        ++pending;
    }

    void acknowledged() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (pending > 0) --pending;
        }
        changed.notify_all();
    }

    // The I/O loop has ended: no acknowledgement will come any more.
    void abandon() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            abandoned = true;
        }
        changed.notify_all();
    }

    // Returns when every sent message was acknowledged, after abandon(), or
    // after `timeout`; true in the first case.
    bool waitForAll(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, timeout, [this] { return pending == 0 || abandoned; });
        return pending == 0;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    int pending = 0;
    bool abandoned = false;
};
