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

// An endpoint where nobody listens: a reserved port, so connections to it are
// refused and stay pending.
inline std::string unheard_endpoint() {
    return "tcp://127.0.0.1:" + std::to_string(kelno_test::free_port());
}

// True once `socket` has input, false after `timeout`.
inline bool wait_for_input(cplt::Socket& socket, std::chrono::milliseconds timeout = bounded_wait) {
    cplt::InputSelector selector({{&socket, [](cplt::Socket*) {}}});
    return selector.run(timeout);
}

// A ROUTER bound to a loopback port of the system's choice and a DEALER
// named "dealer" connected to it.
struct RouterAndDealer {
    cplt::Socket router{cplt::SocketType::Router};
    cplt::Socket dealer{cplt::SocketType::Dealer};

    RouterAndDealer() {
        router.bind(kelno_test::any_loopback_port);
        dealer.setIdentity("dealer");
        dealer.connect(router.lastEndpoint());
    }
};

}  // namespace zmq_test
