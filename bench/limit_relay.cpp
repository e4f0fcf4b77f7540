// The limit: the least a node must do for the wire protocol, written straight
// on libzmq. For each message on its ROUTER it acknowledges to the sender's
// identity and publishes the frames unchanged under the message's app id;
// with an upstream endpoint it also passes them up through a DEALER. Nothing
// is decoded beyond the two headers it needs, nothing is kept or printed, and
// every other request is dropped.
//   kelno_limit_relay <router port> <pub port> [upstream channeler endpoint]
// Stops on SIGTERM or SIGINT (the default action: there is nothing to save).
#include <zmq.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int max_frames = 64;  // a message with more is dropped
const char delimiter = '\0';

bool is_delimiter(zmq_msg_t& frame) {
    return zmq_msg_size(&frame) == 1 && *static_cast<const char*>(zmq_msg_data(&frame)) == '\0';
}

std::string_view text(zmq_msg_t& frame) {
    return {static_cast<const char*>(zmq_msg_data(&frame)), zmq_msg_size(&frame)};
}

// The value of header `key` among frames [first, end), or an empty view.
std::string_view header_value(zmq_msg_t* frames, int first, int end, std::string_view key) {
    for (int i = first; i < end; ++i) {
        const std::string_view line = text(frames[i]);
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '|') {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

class Relay {
public:
    Relay(void* router, void* pub, void* upstream) : router(router), pub(pub), upstream(upstream) {
        zmq_msg_init(&identity);
        for (auto& frame : frames) zmq_msg_init(&frame);
    }

    // Reads one multi-part message from the router, if one is waiting, and
    // handles it. False when none was waiting.
    bool relayOne() {
        if (zmq_msg_recv(&identity, router, ZMQ_DONTWAIT) < 0) return false;
        int count = 0;
        bool more = zmq_msg_more(&identity);
        while (more) {
            zmq_msg_t& frame = frames[count < max_frames ? count : max_frames - 1];
            if (zmq_msg_recv(&frame, router, 0) < 0) return true;
            more = zmq_msg_more(&frame);
            ++count;
        }
        if (count < 4 || count > max_frames) return true;

        int routes_end = 0;
        while (routes_end < count && !is_delimiter(frames[routes_end])) ++routes_end;
        if (routes_end + 2 >= count || text(frames[routes_end + 1]) != "MSG") return true;
        int headers_end = routes_end + 2;
        while (headers_end < count && !is_delimiter(frames[headers_end])) ++headers_end;
        const std::string_view id = header_value(frames, routes_end + 2, headers_end, "id");
        const std::string_view app_id = header_value(frames, routes_end + 2, headers_end, "app_id");

        acknowledge(id);
        if (upstream != nullptr) passUp(count);
        publish(app_id, count);
        return true;
    }

    void drainUpstream() {
        zmq_msg_t frame;
        zmq_msg_init(&frame);
        while (zmq_msg_recv(&frame, upstream, ZMQ_DONTWAIT) >= 0) {
        }
        zmq_msg_close(&frame);
    }

private:
    void acknowledge(std::string_view id) {
        ack_line.assign("msg_id|").append(id);
        zmq_msg_send(&identity, router, ZMQ_SNDMORE | ZMQ_DONTWAIT);
        zmq_send(router, &delimiter, 1, ZMQ_SNDMORE | ZMQ_DONTWAIT);
        zmq_send(router, "ACK", 3, ZMQ_SNDMORE | ZMQ_DONTWAIT);
        zmq_send(router, ack_line.data(), ack_line.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT);
        zmq_send(router, &delimiter, 1, ZMQ_SNDMORE | ZMQ_DONTWAIT);
        zmq_send(router, &delimiter, 1, ZMQ_DONTWAIT);
    }

    // Copies share the frames' buffers (ZeroMQ counts references), so the
    // payload is not copied for the second destination.
    void passUp(int count) {
        for (int i = 0; i < count; ++i) {
            zmq_msg_t copy;
            zmq_msg_init(&copy);
            zmq_msg_copy(&copy, &frames[i]);
            const int flags = ZMQ_DONTWAIT | (i + 1 < count ? ZMQ_SNDMORE : 0);
            if (zmq_msg_send(&copy, upstream, flags) < 0) {
                zmq_msg_close(&copy);
                return;  // dropped, as a node drops what its upstream cannot take
            }
        }
    }

    void publish(std::string_view topic, int count) {
        zmq_send(pub, topic.data(), topic.size(), ZMQ_SNDMORE);
        for (int i = 0; i < count; ++i) {
            zmq_msg_send(&frames[i], pub, i + 1 < count ? ZMQ_SNDMORE : 0);
        }
    }

    void* router;
    void* pub;
    void* upstream;
    zmq_msg_t identity;
    zmq_msg_t frames[max_frames];
    std::string ack_line;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <router port> <pub port> [upstream endpoint]\n",
                     argc > 0 ? argv[0] : "kelno_limit_relay");
        return 2;
    }
    void* context = zmq_ctx_new();
    void* router = zmq_socket(context, ZMQ_ROUTER);
    void* pub = zmq_socket(context, ZMQ_PUB);
    const int on = 1;
    zmq_setsockopt(router, ZMQ_ROUTER_HANDOVER, &on, sizeof on);
    // As kelnod's channeler: room for the acks of a sender's whole window,
    // which a full queue would drop.
    const int ack_queue = 10000;
    zmq_setsockopt(router, ZMQ_SNDHWM, &ack_queue, sizeof ack_queue);
    if (zmq_bind(router, ("tcp://127.0.0.1:" + std::string(argv[1])).c_str()) != 0 ||
        zmq_bind(pub, ("tcp://127.0.0.1:" + std::string(argv[2])).c_str()) != 0) {
        std::fprintf(stderr, "bind failed: %s\n", zmq_strerror(zmq_errno()));
        return 1;
    }
    void* upstream = nullptr;
    if (argc == 4) {
        upstream = zmq_socket(context, ZMQ_DEALER);
        if (zmq_connect(upstream, argv[3]) != 0) {
            std::fprintf(stderr, "connect failed: %s\n", zmq_strerror(zmq_errno()));
            return 1;
        }
    }

    Relay relay(router, pub, upstream);
    zmq_pollitem_t items[2] = {{router, 0, ZMQ_POLLIN, 0}, {upstream, 0, ZMQ_POLLIN, 0}};
    const int item_count = upstream != nullptr ? 2 : 1;
    while (zmq_poll(items, item_count, -1) >= 0) {
        // Everything waiting is handled before the next poll.
        if (items[0].revents & ZMQ_POLLIN) {
            while (relay.relayOne()) {
            }
        }
        if (item_count == 2 && (items[1].revents & ZMQ_POLLIN)) relay.drainUpstream();
    }
    return 0;
}
