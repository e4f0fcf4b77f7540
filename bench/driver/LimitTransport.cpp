#include "LimitTransport.hpp"

#include <zmq.h>

#include <cstdio>
#include <stdexcept>

#include "Payloads.hpp"

namespace kelno_bench {

namespace {

const char delimiter = '\0';
const char* const topic = "kelno-bench";

void send_text(void* socket, const char* text, std::size_t size) {
    zmq_send(socket, text, size, ZMQ_SNDMORE);
}

}  // namespace

LimitTransport::LimitTransport(Progress& progress, int router_port, int pub_port)
    : Transport(progress), context(zmq_ctx_new()) {
    dealer = zmq_socket(context, ZMQ_DEALER);
    sub = zmq_socket(context, ZMQ_SUB);
    const int no_linger = 0;
    zmq_setsockopt(dealer, ZMQ_LINGER, &no_linger, sizeof no_linger);
    zmq_setsockopt(sub, ZMQ_LINGER, &no_linger, sizeof no_linger);
    zmq_setsockopt(dealer, ZMQ_IDENTITY, "kelno-bench|disp", 16);
    // A relay that stopped taking messages fails the run instead of hanging it.
    const int send_timeout_ms = 5000;
    zmq_setsockopt(dealer, ZMQ_SNDTIMEO, &send_timeout_ms, sizeof send_timeout_ms);
    zmq_setsockopt(sub, ZMQ_SUBSCRIBE, topic, std::char_traits<char>::length(topic));
    const std::string host = "tcp://127.0.0.1:";
    if (zmq_connect(dealer, (host + std::to_string(router_port)).c_str()) != 0 ||
        zmq_connect(sub, (host + std::to_string(pub_port)).c_str()) != 0) {
        throw std::runtime_error("limit transport cannot connect");
    }
    subscriber_thread = std::thread([this] { receive(); });
}

LimitTransport::~LimitTransport() {
    stopping = true;
    subscriber_thread.join();
    zmq_close(dealer);
    zmq_close(sub);
    zmq_ctx_term(context);
}

void LimitTransport::publish(std::size_t size) {
    // The frames of a message without push routes, as a client writes them;
    // the id is unique, though cheaper to make than a UUID.
    char id[48];
    std::snprintf(id, sizeof id, "id|%08llx-0000-4000-8000-%012llx",
                  static_cast<unsigned long long>(sequence >> 48),
                  static_cast<unsigned long long>(sequence & 0xffffffffffffULL));
    ++sequence;
    char size_line[32];
    const int size_length = std::snprintf(size_line, sizeof size_line, "p_size|%zu", size);

    // Once the first frame is taken, the rest of the message is too.
    if (zmq_send(dealer, &delimiter, 1, ZMQ_SNDMORE) < 0) {
        throw std::runtime_error("the limit relay does not take messages");
    }
    send_text(dealer, "MSG", 3);
    send_text(dealer, "ack_mode|0", 10);
    send_text(dealer, "app_id|kelno-bench", 18);
    send_text(dealer, id, 39);
    send_text(dealer, "origin|,", 8);
    send_text(dealer, size_line, static_cast<std::size_t>(size_length));
    send_text(dealer, "p_type|bin", 10);
    send_text(dealer, "valid_for|60", 12);
    zmq_send(dealer, &delimiter, 1, ZMQ_SNDMORE);
    zmq_send(dealer, shared_payload(size), size, 0);
}

bool LimitTransport::awaitProgress(const std::function<bool()>& done,
                                   std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return done();
        // Short polls: a delivery is reported on the other thread meanwhile.
        readAcks(std::min<long>(left.count(), 1));
    }
    return true;
}

// Every ack ends with a frame without "more": one such frame, one ack.
void LimitTransport::readAcks(long timeout_ms) {
    zmq_pollitem_t item{dealer, 0, ZMQ_POLLIN, 0};
    if (zmq_poll(&item, 1, timeout_ms) <= 0) return;
    zmq_msg_t frame;
    zmq_msg_init(&frame);
    while (zmq_msg_recv(&frame, dealer, ZMQ_DONTWAIT) >= 0) {
        if (!zmq_msg_more(&frame)) progress.acknowledged();
    }
    zmq_msg_close(&frame);
}

void LimitTransport::receive() {
    zmq_msg_t frame;
    zmq_msg_init(&frame);
    zmq_pollitem_t item{sub, 0, ZMQ_POLLIN, 0};
    while (!stopping) {
        if (zmq_poll(&item, 1, 100) <= 0) continue;
        while (zmq_msg_recv(&frame, sub, ZMQ_DONTWAIT) >= 0) {
            if (!zmq_msg_more(&frame)) progress.delivered();
        }
    }
    zmq_msg_close(&frame);
}

}  // namespace kelno_bench
