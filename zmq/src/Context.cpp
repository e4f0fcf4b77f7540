#include "cplt/Context.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>

#include <zmq.h>

#include <kelnou/Exception.hpp>
#include "cplt/Exception.hpp"
#include "cplt/Socket.hpp"

// How a signal stops the process's ZeroMQ traffic. The handler only records
// the request and writes a byte to a pipe: calling ZeroMQ from a signal
// handler would re-enter whatever ZeroMQ call the signal interrupted, on
// whichever thread it landed. A watcher thread, woken by the pipe, sets
// linger 0 on every registered socket and shuts the ZeroMQ context down;
// every call in progress or made later on this context then fails with ETERM
// (zmq_ctx_shutdown is made for being called from another thread). Where a
// call reports EINTR or ETERM, the thread that made it closes every
// registered socket (or, if the layer's lock is busy, its holder does on
// unlock()), and the call raises ZmqTermination.
//
// Closing every socket on the thread that first sees the termination assumes,
// as the rest of the layer does, that a program's sockets are used by the
// thread that runs its I/O.

namespace cplt {

namespace {

std::atomic<bool> shutdown_requested{false};
std::atomic<bool> closed_by_signal{false};
std::atomic<bool> stop_signal_received{false};
// The watcher's wake-up pipe as the handlers see it: -1 while there is no
// watcher. Kept apart from the context, so a signal during the context's
// destruction at exit never reads freed memory.
std::atomic<int> wake_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free descriptors");
static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need lock-free flags");
static_assert(std::atomic<void*>::is_always_lock_free, "signal handlers need lock-free handles");

// The previous handler installed with SA_SIGINFO takes three arguments; a
// plain handler pointer cannot call it, so its whole action is kept too.
struct PreviousInfoHandler {
    int signal = 0;
    void (*handler)(int, siginfo_t*, void*) = nullptr;
};
PreviousInfoHandler previous_info_handlers[2];

void remember_info_handler(int signal, const struct sigaction& action) {
    for (auto& slot : previous_info_handlers) {
        if (slot.signal == 0 || slot.signal == signal) {
            slot.signal = signal;
            slot.handler = (action.sa_flags & SA_SIGINFO) ? action.sa_sigaction : nullptr;
            return;
        }
    }
}

// Calls a previous three-argument handler with what we know of the signal;
// false when the previous handler was not one.
bool call_info_handler(int signal) {
    for (const auto& slot : previous_info_handlers) {
        if (slot.signal == signal && slot.handler != nullptr) {
            siginfo_t info{};
            info.si_signo = signal;
            info.si_code = SI_USER;
            slot.handler(signal, &info, nullptr);
            return true;
        }
    }
    return false;
}

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

void LayerMutex::lock() {
    mutex.lock();
    owner.store(std::this_thread::get_id());
}

bool LayerMutex::try_lock() noexcept {
    if (!mutex.try_lock()) return false;
    owner.store(std::this_thread::get_id());
    return true;
}

void LayerMutex::unlock() noexcept {
    Context::carry_out_pending_shutdown();
    owner.store(std::thread::id());
    mutex.unlock();
}

Context::Context() : zmq_context(zmq_ctx_new()) {
    if (zmq_context == nullptr) throw_error("While trying to create ZMQ context");
    try {
        kelnou::with_context("While trying to register ZMQ Catapult shutdown facilities", [&] {
            check_for_error(pipe2(wake_pipe, O_CLOEXEC));
            // A handler never waits: a full pipe already holds a wake-up.
            check_for_error(fcntl(wake_pipe[1], F_SETFL, O_NONBLOCK));
            // The watcher must never take the signals itself: it is created
            // with them blocked and keeps that mask.
            sigset_t stop_signals, previous_mask;
            check_for_error(sigemptyset(&stop_signals));
            check_for_error(sigaddset(&stop_signals, SIGINT));
            check_for_error(sigaddset(&stop_signals, SIGTERM));
            pthread_sigmask(SIG_BLOCK, &stop_signals, &previous_mask);
            watcher = std::thread([this] { watch_for_signals(); });
            pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
            wake_fd.store(wake_pipe[1]);
        });
        register_aggregate_handler(SIGINT, aggregate_interrupt_handler,
                                   &previous_interrupt_handler);
        register_aggregate_handler(SIGTERM, aggregate_term_handler, &previous_term_handler);
    } catch (...) {
        // The destructor does not run for a failed constructor.
        stop_watching();
        zmq_ctx_term(zmq_context);
        throw;
    }
}

Context::~Context() {
    stop_watching();
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

void Context::installSignalHandling() {
    std::lock_guard<LayerMutex> lock(_global_mutex);
    get();
}

bool Context::stopSignalReceived() noexcept { return stop_signal_received.load(); }

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
        remember_info_handler(signal, current);

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
        if (!call_info_handler(signal) && is_function(previous)) previous(signal);
    } catch (...) {
        // Nothing may leave a signal handler.
    }
    stop_signal_received.store(true);
    shutdown_requested.store(true);
    if (const int fd = wake_fd.load(); fd >= 0) {
        const char wake = 's';
        [[maybe_unused]] const ssize_t ignored = write(fd, &wake, 1);
    }
    errno = interrupted_errno;
}

void Context::closeSocketsAfterSignal() noexcept {
    // A thread that holds the lock closes them when it releases it; any other
    // waits for the lock (the watcher holds it only briefly).
    if (!shutdown_requested.load() || _global_mutex.heldByThisThread()) return;
    try {
        std::lock_guard<LayerMutex> lock(_global_mutex);  // unlock() closes them
    } catch (...) {
        // A lock that cannot be taken leaves the sockets to the next holder.
    }
}

void Context::watch_for_signals() noexcept {
    for (;;) {
        char wake = 0;
        const ssize_t got = read(wake_pipe[0], &wake, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || wake == 'q') return;
        {
            // The plain mutex: closing sockets is for the threads that use them.
            std::lock_guard<std::mutex> lock(_global_mutex.mutex);
            const int no_linger = 0;
            for (Socket* socket : sockets) {
                if (void* handle = socket->zmq()) {
                    zmq_setsockopt(handle, ZMQ_LINGER, &no_linger, sizeof no_linger);
                }
            }
        }
        zmq_ctx_shutdown(zmq_context);
    }
}

void Context::stop_watching() noexcept {
    wake_fd.store(-1);  // from here on a handler only records the request
    if (watcher.joinable()) {
        const char quit = 'q';
        // The watcher drains the pipe, so room for one more byte comes soon.
        while (write(wake_pipe[1], &quit, 1) < 0 && (errno == EINTR || errno == EAGAIN)) {
        }
        watcher.join();
    }
    for (int& fd : wake_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
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
