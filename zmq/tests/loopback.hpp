#pragma once

// Small helpers for tests over real ZeroMQ sockets on loopback TCP.

#include <chrono>
#include <string>

#include <FreePort.hpp>
#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>

namespace zmq_test {

using namespace std::chrono_literals;

// Every wait in these tests is bounded by this.
constexpr std::chrono::milliseconds bounded_wait = 5s;

inline std::string free_endpoint() {
    return "tcp://127.0.0.1:" + std::to_string(kelno_test::free_port());
}

// True once `socket` has input, false after `timeout`.
inline bool wait_for_input(cplt::Socket& socket, std::chrono::milliseconds timeout = bounded_wait) {
    cplt::InputSelector selector({{&socket, [](cplt::Socket*) {}}});
    return selector.run(timeout);
}

// A ROUTER bound to a free loopback port and a DEALER named "dealer"
// connected to it.
struct RouterAndDealer {
    cplt::Socket router{cplt::SocketType::Router};
    cplt::Socket dealer{cplt::SocketType::Dealer};

    RouterAndDealer() {
        const std::string endpoint = free_endpoint();
        router.bind(endpoint);
        dealer.setIdentity("dealer");
        dealer.connect(endpoint);
    }
};

}  // namespace zmq_test
