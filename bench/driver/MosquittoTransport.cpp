#include "MosquittoTransport.hpp"

#include <mosquitto.h>

#include <stdexcept>
#include <string>

#include "Payloads.hpp"

namespace kelno_bench {

namespace {

const char* const topic = "kelno-bench";

mosquitto* new_client(const char* id, void* self) {
    static const bool initialised = [] { return mosquitto_lib_init() == MOSQ_ERR_SUCCESS; }();
    if (!initialised) throw std::runtime_error("mosquitto_lib_init failed");
    mosquitto* client = mosquitto_new(id, true, self);
    if (client == nullptr) throw std::runtime_error("mosquitto_new failed");
    return client;
}

void connect_and_start(mosquitto* client, int port) {
    if (mosquitto_connect(client, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client) != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error("cannot connect to mosquitto on port " + std::to_string(port));
    }
}

void stop(mosquitto* client) {
    if (client == nullptr) return;
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, true);
    mosquitto_destroy(client);
}

}  // namespace

MosquittoTransport::MosquittoTransport(Progress& progress, int publisher_port, int subscriber_port,
                                       unsigned window)
    : Transport(progress) {
    try {
        subscriber = new_client("kelno-bench-subscriber", this);
        mosquitto_connect_callback_set(subscriber, on_subscriber_connect);
        mosquitto_subscribe_callback_set(subscriber, on_subscribe);
        mosquitto_message_callback_set(subscriber, on_message);
        connect_and_start(subscriber, subscriber_port);

        publisher = new_client("kelno-bench-publisher", this);
        // The client's own limit of unacknowledged messages (20 by default)
        // must not be tighter than the harness's window.
        mosquitto_max_inflight_messages_set(publisher, window);
        mosquitto_connect_callback_set(publisher, on_publisher_connect);
        mosquitto_publish_callback_set(publisher, on_publish);
        connect_and_start(publisher, publisher_port);

        if (!progress.waitFor([this] { return publisher_ready && subscribed; },
                              std::chrono::seconds(10))) {
            throw std::runtime_error("mosquitto clients did not connect");
        }
    } catch (...) {
        stop(publisher);
        stop(subscriber);
        throw;
    }
}

MosquittoTransport::~MosquittoTransport() {
    stop(publisher);
    stop(subscriber);
}

void MosquittoTransport::publish(std::size_t size) {
    mosquitto_publish(publisher, nullptr, topic, static_cast<int>(size), shared_payload(size), 1,
                      false);
}

void MosquittoTransport::on_subscriber_connect(mosquitto* client, void*, int result) {
    if (result == 0) mosquitto_subscribe(client, nullptr, topic, 0);
}

void MosquittoTransport::on_subscribe(mosquitto*, void* self, int, int, const int*) {
    auto* transport = static_cast<MosquittoTransport*>(self);
    transport->subscribed = true;
    transport->progress.wake();
}

void MosquittoTransport::on_message(mosquitto*, void* self, const mosquitto_message*) {
    static_cast<MosquittoTransport*>(self)->progress.delivered();
}

void MosquittoTransport::on_publish(mosquitto*, void* self, int) {
    static_cast<MosquittoTransport*>(self)->progress.acknowledged();
}

void MosquittoTransport::on_publisher_connect(mosquitto*, void* self, int result) {
    auto* transport = static_cast<MosquittoTransport*>(self);
    if (result == 0) transport->publisher_ready = true;
    transport->progress.wake();
}

}  // namespace kelno_bench
