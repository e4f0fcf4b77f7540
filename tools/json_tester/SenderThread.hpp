#pragma once

#include <thread>

#include <kelnom/Client.hpp>

#include "IoLoopEnd.hpp"

// Sends a new document every 5 seconds until the client is terminated.
// The pause is cut short when the I/O loop ends.
void sender_thread_fn(kelnom::Client* client, kelno_tools::IoLoopEnd* loop_end);

// The sender thread of one client. stop() (also run by the destructor, so an
// error on the I/O thread cannot leave the thread running) tells it the I/O
// loop is over and joins it.
class SenderThread {
public:
    explicit SenderThread(kelnom::Client& client);
    ~SenderThread() { stop(); }
    SenderThread(const SenderThread&) = delete;
    SenderThread& operator=(const SenderThread&) = delete;

    // Call once blockThreadForIO has returned.
    void stop();

private:
    kelnom::Client& client;
    kelno_tools::IoLoopEnd loop_end;
    std::thread thread;
};
