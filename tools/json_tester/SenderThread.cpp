#include "SenderThread.hpp"

#include <chrono>
#include <iostream>

#include "Payloader.hpp"
#include "WorkerThread.hpp"

namespace {

constexpr std::chrono::seconds send_interval{5};
constexpr kelnom::Client::Seconds valid_for{76};

bool is_terminated(kelnom::Client& client) {
    std::lock_guard<std::mutex> lock(client.termData().termLock());
    return client.termData().isTermed();
}

}  // namespace

void sender_thread_fn(kelnom::Client* client, kelno_tools::IoLoopEnd* loop_end) {
    try {
        Payloader payloader;
        while (!is_terminated(*client)) {
            kelnom::Payload payload = payloader.create_payload();
            std::cout << "Sending json payload." << std::endl;
            client->send(std::move(payload), {}, valid_for, kelnom::Client::ResultCallback(),
                         kelnom::Message::AckMode::NoAck);
            loop_end->waitFor(send_interval);
        }
    } catch (...) {
        std::cerr << "Sender thread terminated unexpectedly..." << std::endl;
        loop_end->terminateClient(*client);
    }
}

SenderThread::SenderThread(kelnom::Client& client)
    : client(client), thread(kelno_tools::start_worker_thread([this] {
          sender_thread_fn(&this->client, &loop_end);
      })) {}

void SenderThread::stop() {
    if (!thread.joinable()) return;
    // A signal ends the I/O loop without setting the termination flag; set it
    // here so the sender notices it when its pause is cut short.
    client.terminate();
    loop_end.markEnded();
    thread.join();
}
