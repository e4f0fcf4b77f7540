#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <cplt/Socket.hpp>

namespace cplt {

// The connection events of one socket, as ZeroMQ reports them on a PAIR
// socket of its own. Put socket() in an InputSelector beside the watched
// socket and call next() when it has input. The watched socket must outlive
// the monitor.
class SocketMonitor {
public:
    // ZeroMQ's event numbers, so that callers need not include its header.
    enum Event : int {
        connected = 0x0001,  // a TCP connection is up; the handshake follows
        accepted = 0x0020,
        disconnected = 0x0200,
        handshake_failed_no_detail = 0x0800,
        handshake_succeeded = 0x1000,
        handshake_failed_protocol = 0x2000,
        handshake_failed_auth = 0x4000,
    };

    struct Report {
        int event;
        std::uint32_t value;  // the event's value (a descriptor, an error number, ...)
        std::string address;  // the peer's or the endpoint's address
    };

    // `events` is a mask of Event values.
    SocketMonitor(Socket& watched, int events);

    Socket& socket() { return pair; }

    // The next report, or nothing when none is waiting.
    std::optional<Report> next();

private:
    Socket pair;
};

}  // namespace cplt
