#pragma once

#include <chrono>

namespace kelno_test {

// Binding to this lets the system pick a free loopback port at the bind
// itself; read the endpoint back (ZMQ_LAST_ENDPOINT, cplt::Socket::lastEndpoint)
// to connect. In-process sockets use it: no other process can take the port
// between choosing and binding.
inline constexpr const char* any_loopback_port = "tcp://127.0.0.1:0";

// A free TCP port on the loopback interface, for programs started as child
// processes, which read their ports from a file or their command line and bind
// later. In-process sockets bind to any_loopback_port instead. The port stays
// reserved (bound, not listening) for a while, so no other bind is given it
// meanwhile; a child binding with SO_REUSEADDR (ZeroMQ does) still can. A
// connection to it is refused until the child listens.
int free_port();

// True once something accepts TCP connections on 127.0.0.1:`port`, false after
// `timeout`: for children that answer no request of ours.
bool wait_for_listener(int port, std::chrono::milliseconds timeout);

}  // namespace kelno_test
