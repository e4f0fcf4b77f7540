#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

#include "Harness.hpp"

namespace kelno_bench {

// A sending and a subscribed kelnom::Client, each on its own I/O thread.
class KelnoTransport : public Transport {
public:
    struct Options {
        std::string app_id = "kelno-bench";
        std::vector<std::string> push_routes;  // empty: nothing is stored
        bool subscribe = true;                 // false: a sender alone
        bool acknowledge_deliveries = false;   // the subscriber acks what it receives
    };

    // The sender talks to the node on `channeler_port`; the subscriber listens
    // on `broadcaster_port` of the same or another node.
    KelnoTransport(Progress& progress, int channeler_port, int subscriber_channeler_port,
                   int subscriber_broadcaster_port, Options options);
    ~KelnoTransport() override;

    void publish(std::size_t size) override;

private:
    static void run_io(kelnom::Client& client, std::atomic<bool>& done);

    Options options;
    std::unique_ptr<kelnom::Client> sender;
    std::unique_ptr<kelnom::Client> subscriber;
    std::atomic<bool> sender_done{false};
    std::atomic<bool> subscriber_done{false};
    std::thread sender_thread;
    std::thread subscriber_thread;
};

}  // namespace kelno_bench
