#pragma once

#include <atomic>

#include "Harness.hpp"

struct mosquitto;
struct mosquitto_message;

namespace kelno_bench {

// The peer: a libmosquitto publisher at QoS 1 (its PUBACK is our
// acknowledgement) and a subscriber at QoS 0 (Kelno's own delivery to
// subscribers is unacknowledged), each with libmosquitto's network thread.
class MosquittoTransport : public Transport {
public:
    MosquittoTransport(Progress& progress, int publisher_port, int subscriber_port,
                       unsigned window);
    ~MosquittoTransport() override;

    void publish(std::size_t size) override;

private:
    static void on_subscriber_connect(mosquitto* client, void* self, int result);
    static void on_subscribe(mosquitto* client, void* self, int mid, int count, const int* qos);
    static void on_message(mosquitto* client, void* self, const mosquitto_message* message);
    static void on_publish(mosquitto* client, void* self, int mid);
    static void on_publisher_connect(mosquitto* client, void* self, int result);

    mosquitto* publisher = nullptr;
    mosquitto* subscriber = nullptr;
    std::atomic<bool> publisher_ready{false};
    std::atomic<bool> subscribed{false};
};

}  // namespace kelno_bench
