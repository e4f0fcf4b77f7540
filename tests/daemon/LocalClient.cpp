#include "LocalClient.hpp"

#include <gtest/gtest.h>
#include <zmq.h>

#include <stdexcept>

namespace kelno_test {

namespace {

// Publications on this topic only show that the subscription works.
const std::string probe_topic = "kelno-test-probe";

}  // namespace

void expect_orderly_stop(DaemonProcess& daemon) {
    EXPECT_EQ(daemon.stop(), 0) << daemon.process().err();
    EXPECT_TRUE(daemon.process().waitForOut("Done\n", std::chrono::milliseconds(0)));
}

bool is_probe(const Frames& frames) {
    for (auto& frame : frames) {
        if (frame == "app_id|" + probe_topic) return true;
    }
    return false;
}

LocalClient::LocalClient(const DaemonProcess& daemon, std::vector<std::string> topics,
                         const std::string& identity)
    : channel(ZMQ_DEALER, identity), listener(ZMQ_SUB) {
    channel.connect(daemon.channelerEndpoint());
    listener.connect(daemon.broadcasterEndpoint());
    listener.subscribe(probe_topic);
    for (auto& topic : topics) listener.subscribe(topic);
    waitUntilSubscribed();
}

void LocalClient::waitUntilSubscribed() {
    // A subscription reaches the publisher some time after connecting; until
    // then publications are dropped. Probe until one comes through.
    using namespace std::chrono_literals;
    for (int attempt = 0; attempt < 50; ++attempt) {
        WireMessage probe;
        probe.app_id = probe_topic;
        channel.send(probe.frames());
        if (!channel.receive()) throw std::runtime_error("no acknowledgement of a probe");
        if (auto publication = listener.receive(200ms)) return;
    }
    throw std::runtime_error("subscription never became live");
}

std::optional<Frames> LocalClient::request(const Frames& frames,
                                           std::chrono::milliseconds timeout) {
    channel.send(frames);
    return channel.receive(timeout);
}

std::optional<Frames> LocalClient::nextPublication(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return std::nullopt;
        auto publication = listener.receive(left);
        if (!publication) return std::nullopt;
        if (publication->front() != probe_topic) return publication;
    }
}

bool LocalClient::waitUntilNothingKeptFor(const std::string& name,
                                          std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        channel.send(inbox_frames(name, "clnt"));
        channel.send(registry_query_frames());
        auto first = channel.receive();
        if (!first) return false;
        if (first->size() > 1 && (*first)[0] == delimiter && (*first)[1] == "REG") return true;
        channel.receive();  // the registry reply behind the kept message
    }
    return false;
}

}  // namespace kelno_test
