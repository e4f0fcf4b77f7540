#pragma once

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <utility>

namespace kelno_tools {

// Starts a thread that never takes SIGINT or SIGTERM. The signals then reach
// the thread that runs the client's I/O loop, whose poll they interrupt, and
// never a worker blocked in a read or a sleep.
template <typename Function>
std::thread start_worker_thread(Function&& function) {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);  // the new thread inherits the mask
    try {
        std::thread worker(std::forward<Function>(function));
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return worker;
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
}

}  // namespace kelno_tools
