#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace cplt {

class Socket;

// The process's single ZeroMQ context, its registry of open sockets, and the
// SIGINT/SIGTERM handlers that close every registered socket with linger 0.
class Context {
public:
    using SignalHandler = void (*)(int);

    virtual ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // The one context, created on the first call. Does not lock: callers hold
    // getLock() (the socket constructor does).
    static Context& get();
    static std::mutex& getLock();

    // Registry operations; callers hold getLock().
    void register_socket(Socket* socket);
    void deregister_socket(Socket* socket);
    void forEachSocket(const std::function<void(Socket&)>& visit);

    // Sets linger to `seconds` and closes every registered socket that is open.
    void shutdown(std::chrono::duration<std::int64_t> seconds);

    void* handle() const { return zmq_context; }

    static void register_aggregate_handler(int signal, SignalHandler handler,
                                           SignalHandler* previous);
    static void aggregate_interrupt_handler(int signal);
    static void aggregate_term_handler(int signal);

private:
    Context();

    void* zmq_context;
    std::set<Socket*> sockets;

    static std::unique_ptr<Context> _global_context;
    static std::mutex _global_mutex;
    static SignalHandler previous_interrupt_handler;
    static SignalHandler previous_term_handler;
};

}  // namespace cplt
