// A client program for signal tests: its I/O loop runs on the main thread
// while sender threads call send() in a tight loop. Prints "traffic flowing"
// once the senders have queued a thousand messages; once the loop has
// returned and every sender has ended, prints "loop returned" and "senders
// ended", and exits 0 (2 when the loop reported an error instead of ending
// quietly).
//
// Usage: signalled_client_program <channeler port> <broadcaster port> <senders>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

namespace {

// Each sender stops at this many messages, so that memory stays bounded if
// the signal is late.
constexpr int kMostSendsPerThread = 20000;
constexpr int kSendsBeforeFlowing = 1000;

class LoopEnd {
public:
    void mark() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ended = true;
        }
        changed.notify_all();
    }
    bool hasEnded() {
        std::lock_guard<std::mutex> lock(mutex);
        return ended;
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return ended; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
};

void send_until_loop_ends(kelnom::Client& client, LoopEnd& loop_end,
                          std::atomic<int>& sent_by_all) {
    for (int sent = 0; sent < kMostSendsPerThread && !loop_end.hasEnded(); ++sent) {
        kelnom::Payload payload(5, "text");
        std::memcpy(payload.getBuffer(), "storm", 5);
        client.send(
            std::move(payload), {}, kelnom::Client::Seconds(5), [] {},
            kelnom::Message::AckMode::Ack);
        if (++sent_by_all == kSendsBeforeFlowing) std::cout << "traffic flowing" << std::endl;
    }
    loop_end.wait();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    kelnom::Client client("signalled", std::stoi(argv[2]), std::stoi(argv[1]), {});
    LoopEnd loop_end;
    std::atomic<int> sent_by_all{0};

    std::vector<std::thread> senders;
    for (int i = 0; i < std::stoi(argv[3]); ++i) {
        senders.emplace_back([&] { send_until_loop_ends(client, loop_end, sent_by_all); });
    }
    bool reported_error = false;
    client.blockThreadForIO(
        [&](kelnou::Exception& error) {
            std::cerr << error.generateMessage() << std::endl;
            reported_error = true;
        },
        kelnom::Client::Milliseconds(50));
    loop_end.mark();
    std::cout << "loop returned" << std::endl;
    for (auto& sender : senders) sender.join();
    std::cout << "senders ended" << std::endl;
    return reported_error ? 2 : 0;
}
