#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace cplt {

class Socket;

// The socket layer's process-wide lock (plain, non-recursive). A pending
// shutdown left by a signal is carried out by unlock(), before the lock
// becomes free.
class LayerMutex {
public:
    void lock();
    bool try_lock() noexcept;
    void unlock() noexcept;

    bool heldByThisThread() const noexcept { return owner.load() == std::this_thread::get_id(); }

private:
    friend class Context;
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
};

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
    static LayerMutex& getLock();

    // Creates the context now, so that SIGINT and SIGTERM are handled from
    // here on: a program calls it first thing, and a signal during its
    // start-up then makes its first socket raise ZmqTermination instead of
    // ending the process by the default action.
    static void installSignalHandling();

    // True once a SIGINT or SIGTERM has reached the socket layer's handlers.
    static bool stopSignalReceived() noexcept;

    // Registry operations; callers hold getLock(). The visitor must not
    // create or destroy sockets.
    void register_socket(Socket* socket);
    void deregister_socket(Socket* socket);
    void forEachSocket(const std::function<void(Socket&)>& visit);

    // Sets linger to `seconds` and closes every registered socket that is
    // open; callers hold getLock(). Does not terminate the context.
    void shutdown(std::chrono::duration<std::int64_t> seconds);

    // True once a SIGINT or SIGTERM has closed the process's sockets.
    static bool shutDownBySignal() noexcept;

    // Called where a ZeroMQ call has reported termination: closes every
    // socket now if a signal asked for it and the lock is free (otherwise its
    // holder does on unlock()).
    static void closeSocketsAfterSignal() noexcept;

    void* handle() const { return zmq_context; }

    static void register_aggregate_handler(int signal, SignalHandler handler,
                                           SignalHandler* previous);
    static void aggregate_interrupt_handler(int signal);
    static void aggregate_term_handler(int signal);

private:
    friend class LayerMutex;
    friend class Socket;

    Context();

    // The context if it exists; never creates it.
    static Context* existing() noexcept { return _global_context.get(); }

    // Moves `from`'s registry entry to `to` without allocating.
    void replace_socket(Socket* from, Socket* to) noexcept;

    // The signal path: records the request and wakes the signal watcher; it
    // touches neither ZeroMQ nor the lock.
    static void shutdown_on_signal(int signal, SignalHandler previous) noexcept;
    // The signal watcher's thread: sets linger 0 on every socket and shuts the
    // ZeroMQ context down, which makes every blocked or later call on this
    // context fail with ETERM, whichever thread makes it.
    void watch_for_signals() noexcept;
    void stop_watching() noexcept;
    // Runs a requested shutdown; the caller holds the lock.
    static void carry_out_pending_shutdown() noexcept;

    void* zmq_context;
    std::set<Socket*> sockets;
    int wake_pipe[2] = {-1, -1};  // the handler writes, the watcher reads
    std::thread watcher;

    static std::unique_ptr<Context> _global_context;
    static LayerMutex _global_mutex;
    static SignalHandler previous_interrupt_handler;
    static SignalHandler previous_term_handler;
};

}  // namespace cplt
