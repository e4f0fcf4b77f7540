#include "cplt/Context.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>

#include <zmq.h>

#include "cplt/Exception.hpp"
#include "cplt/Socket.hpp"
#include <kelnou/Exception.hpp>

// How a signal closes the sockets. The handler never waits: it records a
// pending shutdown, then carries it out itself if it can take the layer's lock
// with a try-lock (POSIX: returns at once, even on the thread that holds it);
// otherwise the holder carries it out in unlock(). Closing and destroying a
// socket take the lock too, so no handle is closed twice.
//
// The handler closes sockets that other threads may be using. We rely on the
// signal reaching the thread that waits in ZeroMQ, whose call then returns
// EINTR without touching the socket again, or arriving between that thread's
// calls: its next call finds the handle gone (ENOTSOCK), which throw_error
// turns into termination. A signal that lands inside a ZeroMQ call outside its
// wait (while it handles ZeroMQ's internal commands) closes the socket under
// that call, which may then wait until its time-out, or for ever without one.

namespace cplt {

namespace {

std::atomic<bool> shutdown_requested{false};
std::atomic<bool> closed_by_signal{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need lock-free flags");
static_assert(std::atomic<void*>::is_always_lock_free, "signal handlers need lock-free handles");

bool is_function(Context::SignalHandler handler) {
    return handler != SIG_DFL && handler != SIG_IGN;
}

// The linger option is an int of milliseconds: longer periods are cut to fit.
int linger_milliseconds(std::chrono::duration<std::int64_t> seconds) {
    constexpr std::int64_t limit = INT_MAX / 1000;
    return static_cast<int>(std::clamp<std::int64_t>(seconds.count(), -limit, limit) * 1000);
}

}  // namespace

std::unique_ptr<Context> Context::_global_context;
LayerMutex Context::_global_mutex;
Context::SignalHandler Context::previous_interrupt_handler = SIG_DFL;
Context::SignalHandler Context::previous_term_handler = SIG_DFL;

void LayerMutex::unlock() noexcept {
    for (;;) {
        Context::carry_out_pending_shutdown();
        mutex.unlock();
        // Pairs with the fence in shutdown_on_signal: either the handler's
        // try-lock saw the lock free, or we see its request here.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!shutdown_requested.load() || !mutex.try_lock()) return;
    }
}

Context::Context() : zmq_context(zmq_ctx_new()) {
    if (zmq_context == nullptr) throw_error("While trying to create ZMQ context");
    try {
        register_aggregate_handler(SIGINT, aggregate_interrupt_handler,
                                   &previous_interrupt_handler);
        register_aggregate_handler(SIGTERM, aggregate_term_handler, &previous_term_handler);
    } catch (...) {
        zmq_ctx_term(zmq_context);  // the destructor does not run for a failed constructor
        throw;
    }
}

Context::~Context() {
    try {
        check_result(zmq_ctx_destroy(zmq_context), "While trying to destroy context");
        zmq_context = nullptr;
    } catch (const Exception&) {
        // Process exit: nobody is left to tell.
    }
}

Context& Context::get() {
    if (!_global_context) _global_context.reset(new Context());
    return *_global_context;
}

LayerMutex& Context::getLock() { return _global_mutex; }

void Context::register_socket(Socket* socket) { sockets.insert(socket); }

void Context::deregister_socket(Socket* socket) { sockets.erase(socket); }

void Context::replace_socket(Socket* from, Socket* to) noexcept {
    auto entry = sockets.extract(from);
    if (entry.empty()) return;
    entry.value() = to;
    sockets.insert(std::move(entry));
}

void Context::forEachSocket(const std::function<void(Socket&)>& visit) {
    for (Socket* socket : sockets) visit(*socket);
}

void Context::shutdown(std::chrono::duration<std::int64_t> seconds) {
    if (zmq_context == nullptr) return;
    const std::chrono::duration<int, std::milli> linger(linger_milliseconds(seconds));
    forEachSocket([&](Socket& socket) {
        if (!socket.isOpen()) return;
        try {
            socket.setLingerTimeout(linger);
            socket.closeLocked();
        } catch (ZmqError& error) {
            error.throwWithContext("While trying to shutdown context");
        }
    });
}

bool Context::shutDownBySignal() noexcept { return closed_by_signal.load(); }

void Context::register_aggregate_handler(int signal, SignalHandler handler,
                                         SignalHandler* previous) {
    kelnou::with_context("While trying to register ZMQ Catapult shutdown facilities", [&] {
        struct sigaction current {};
        check_for_error(sigaction(signal, nullptr, &current));
        *previous = current.sa_handler;

        struct sigaction replacement {};
        replacement.sa_handler = handler;
        check_for_error(sigemptyset(&replacement.sa_mask));
        // No SA_RESTART: a blocked ZeroMQ call must return EINTR.
        replacement.sa_flags = 0;
        check_for_error(sigaction(signal, &replacement, nullptr));
    });
}

void Context::aggregate_interrupt_handler(int signal) {
    shutdown_on_signal(signal, previous_interrupt_handler);
}

void Context::aggregate_term_handler(int signal) {
    shutdown_on_signal(signal, previous_term_handler);
}

void Context::shutdown_on_signal(int signal, SignalHandler previous) noexcept {
    const int interrupted_errno = errno;
    try {
        if (is_function(previous)) previous(signal);
        shutdown_requested.store(true);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (_global_mutex.try_lock()) _global_mutex.unlock();  // unlock() carries it out
    } catch (...) {
        // Nothing may leave a signal handler.
    }
    errno = interrupted_errno;
}

void Context::carry_out_pending_shutdown() noexcept {
    if (!shutdown_requested.exchange(false)) return;
    // Set first, so a thread whose call fails on a socket closed below sees it.
    closed_by_signal.store(true);
    Context* context = existing();
    if (context == nullptr || context->zmq_context == nullptr) return;
    // Unlike shutdown(), one socket's failure does not spare the others.
    for (Socket* socket : context->sockets) socket->closeImmediately();
}

}  // namespace cplt
