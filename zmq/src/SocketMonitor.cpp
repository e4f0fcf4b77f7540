#include "cplt/SocketMonitor.hpp"

#include <atomic>
#include <cstring>

#include <zmq.h>

namespace cplt {

static_assert(SocketMonitor::connected == ZMQ_EVENT_CONNECTED &&
                  SocketMonitor::accepted == ZMQ_EVENT_ACCEPTED &&
                  SocketMonitor::disconnected == ZMQ_EVENT_DISCONNECTED &&
                  SocketMonitor::handshake_failed_no_detail ==
                      ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL &&
                  SocketMonitor::handshake_succeeded == ZMQ_EVENT_HANDSHAKE_SUCCEEDED &&
                  SocketMonitor::handshake_failed_protocol == ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL &&
                  SocketMonitor::handshake_failed_auth == ZMQ_EVENT_HANDSHAKE_FAILED_AUTH,
              "monitor events must be ZeroMQ's numbers");

namespace {

std::string fresh_monitor_endpoint() {
    static std::atomic<unsigned> count{0};
    return "inproc://cplt-monitor-" + std::to_string(count++);
}

}  // namespace

SocketMonitor::SocketMonitor(Socket& watched, int events) : pair(SocketType::Pair) {
    const std::string endpoint = fresh_monitor_endpoint();
    watched.monitor(endpoint, events);
    pair.connect(endpoint);
}

std::optional<SocketMonitor::Report> SocketMonitor::next() {
    if (!pair.hasInput()) return std::nullopt;
    // Two frames: the event number (16 bits) and its value (32 bits) in the
    // machine's byte order, then the address.
    Frame header;
    const std::size_t size = pair.recv(header);
    Report report{0, 0, {}};
    if (size >= 6) {
        std::uint16_t event = 0;
        std::memcpy(&event, header.data(), sizeof event);
        std::memcpy(&report.value, header.data() + sizeof event, sizeof report.value);
        report.event = event;
    }
    if (pair.checkMore()) {
        Frame address;
        pair.recv(address);
        report.address.assign(address.data(), address.size());
    }
    pair.flushMessage();
    return report;
}

}  // namespace cplt
