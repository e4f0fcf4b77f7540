#include "cplt/Socket.hpp"

#include <cerrno>
#include <mutex>

#include <zmq.h>

#include "cplt/Context.hpp"
#include "cplt/Exception.hpp"

// Not in the stable header of libzmq 4.3, but understood by it: without it a
// CURVE socket lets every peer in when no ZAP handler is bound.
#ifndef ZMQ_ZAP_ENFORCE_DOMAIN
#define ZMQ_ZAP_ENFORCE_DOMAIN 93
#endif

namespace cplt {

namespace {

int zmq_flags(bool dont_wait, bool more) {
    return (dont_wait ? ZMQ_DONTWAIT : 0) | (more ? ZMQ_SNDMORE : 0);
}

void set_int_option(void* socket, int option, int value, const char* context_line) {
    check_result(zmq_setsockopt(socket, option, &value, sizeof value), context_line);
}

void set_bytes_option(void* socket, int option, const std::string& value,
                      const char* context_line) {
    check_result(zmq_setsockopt(socket, option, value.data(), value.size()), context_line);
}

// A new ZeroMQ socket of `type`, with the options every socket of that type gets.
void* open_zmq_socket(void* context, SocketType type) {
    void* socket = zmq_socket(context, static_cast<int>(type));
    if (socket == nullptr) throw_error("While trying to create socket");
    if (type == SocketType::Router) {
        // Unroutable messages fail with EHOSTUNREACH instead of vanishing.
        const int on = 1;
        if (zmq_setsockopt(socket, ZMQ_ROUTER_MANDATORY, &on, sizeof on) == -1) {
            const int error = zmq_errno();
            zmq_close(socket);  // nobody else will: the constructor fails
            errno = error;
            throw_error("Failed to set the router to demand unroutable messages raise an error.");
        }
    }
    return socket;
}

}  // namespace

// ---------------------------------------------------------------- Frame

Frame::Frame() { zmq_msg_init(static_cast<zmq_msg_t*>(message())); }

Frame::~Frame() { zmq_msg_close(static_cast<zmq_msg_t*>(message())); }

Frame::Frame(Frame&& other) noexcept : Frame() {
    zmq_msg_move(static_cast<zmq_msg_t*>(message()), static_cast<zmq_msg_t*>(other.message()));
}

Frame& Frame::operator=(Frame&& other) noexcept {
    // zmq_msg_move releases what this frame held.
    if (this != &other) {
        zmq_msg_move(static_cast<zmq_msg_t*>(message()), static_cast<zmq_msg_t*>(other.message()));
    }
    return *this;
}

void* Frame::message() {
    static_assert(sizeof(zmq_msg_t) <= sizeof(storage), "zmq_msg_t does not fit a Frame");
    static_assert(alignof(zmq_msg_t) <= alignof(Frame), "zmq_msg_t needs stronger alignment");
    return storage;
}

const void* Frame::message() const { return storage; }

char* Frame::data() { return static_cast<char*>(zmq_msg_data(static_cast<zmq_msg_t*>(message()))); }

const char* Frame::data() const { return const_cast<Frame*>(this)->data(); }

std::size_t Frame::size() const { return zmq_msg_size(static_cast<const zmq_msg_t*>(message())); }

// ---------------------------------------------------------------- Socket

Socket::Socket(SocketType type) : type(type), handle(nullptr), default_wait(true) {
    std::lock_guard lock(Context::getLock());
    Context& context = Context::get();
    context.register_socket(this);  // first: allocates, and nothing to undo yet
    try {
        handle.store(open_zmq_socket(context.handle(), type), std::memory_order_release);
    } catch (...) {
        context.deregister_socket(this);
        throw;
    }
}

Socket::Socket(Socket&& other) noexcept
    : type(other.type), handle(nullptr), default_wait(other.default_wait) {
    // Under the lock, so a signal's shutdown sees the handle in exactly one of
    // the two objects.
    std::lock_guard lock(Context::getLock());
    handle.store(other.handle.exchange(nullptr), std::memory_order_release);
    if (Context* context = Context::existing()) context->replace_socket(&other, this);
}

Socket::~Socket() {
    std::lock_guard lock(Context::getLock());
    closeImmediately();
    // A destroyed socket never stays where a signal's shutdown would visit it.
    if (Context* context = Context::existing()) context->deregister_socket(this);
}

void Socket::connect(std::string endpoint) {
    check_result(zmq_connect(zmq(), endpoint.c_str()), "While trying to connect");
}

void Socket::bind(std::string endpoint) {
    check_result(zmq_bind(zmq(), endpoint.c_str()), "While trying to bind");
}

void Socket::setLingerTimeout(std::chrono::duration<int, std::milli> timeout) {
    set_int_option(zmq(), ZMQ_LINGER, timeout.count(),
                   "While trying to set linger timeout for socket");
}

void Socket::setIdentity(const std::string& identity) {
    set_bytes_option(zmq(), ZMQ_IDENTITY, identity, "While trying to set socket identity");
}

void Socket::setSendTimeout(std::chrono::duration<int, std::milli> timeout) {
    set_int_option(zmq(), ZMQ_SNDTIMEO, timeout.count(),
                   "While trying to set send timeout for socket");
}

void Socket::setSendHWM(int hwm) {
    set_int_option(zmq(), ZMQ_SNDHWM, hwm, "While trying to set send HWM for socket");
}

void Socket::subscribe(std::string prefix) {
    set_bytes_option(zmq(), ZMQ_SUBSCRIBE, prefix,
                     "While trying to set subscribe options for socket");
}

void Socket::setRouterHandover(bool handover) {
    set_int_option(zmq(), ZMQ_ROUTER_HANDOVER, handover ? 1 : 0,
                   "While trying to set router handover for socket");
}

void Socket::setMaxMessageSize(std::int64_t bytes) {
    const std::int64_t limit = bytes > 0 ? bytes : -1;  // ZeroMQ's "no limit" is -1
    check_result(zmq_setsockopt(zmq(), ZMQ_MAXMSGSIZE, &limit, sizeof limit),
                 "While trying to set the maximum message size for socket");
}

void Socket::setNoDrop(bool no_drop) {
    set_int_option(zmq(), ZMQ_XPUB_NODROP, no_drop ? 1 : 0,
                   "While trying to set the publisher's no-drop mode");
}

void Socket::setHeartbeat(std::chrono::duration<int, std::milli> interval,
                          std::chrono::duration<int, std::milli> timeout) {
    set_int_option(zmq(), ZMQ_HEARTBEAT_IVL, interval.count(),
                   "While trying to set the heartbeat interval for socket");
    set_int_option(zmq(), ZMQ_HEARTBEAT_TIMEOUT, timeout.count(),
                   "While trying to set the heartbeat timeout for socket");
}

void Socket::setCurveServer(const std::string& secret_key) {
    set_int_option(zmq(), ZMQ_CURVE_SERVER, 1, "While trying to make the socket a CURVE server");
    // With the terminating zero: ZeroMQ reads 41 bytes as Z85 text.
    check_result(zmq_setsockopt(zmq(), ZMQ_CURVE_SECRETKEY, secret_key.c_str(),
                                secret_key.size() + 1),
                 "While trying to set the socket's CURVE secret key");
}

void Socket::setCurveClient(const std::string& server_public_key, const std::string& public_key,
                            const std::string& secret_key) {
    check_result(zmq_setsockopt(zmq(), ZMQ_CURVE_SERVERKEY, server_public_key.c_str(),
                                server_public_key.size() + 1),
                 "While trying to set the CURVE server key");
    check_result(
        zmq_setsockopt(zmq(), ZMQ_CURVE_PUBLICKEY, public_key.c_str(), public_key.size() + 1),
        "While trying to set the socket's CURVE public key");
    check_result(
        zmq_setsockopt(zmq(), ZMQ_CURVE_SECRETKEY, secret_key.c_str(), secret_key.size() + 1),
        "While trying to set the socket's CURVE secret key");
}

void Socket::setZapDomainEnforced(const std::string& domain) {
    set_bytes_option(zmq(), ZMQ_ZAP_DOMAIN, domain, "While trying to set the socket's ZAP domain");
    set_int_option(zmq(), ZMQ_ZAP_ENFORCE_DOMAIN, 1,
                   "While trying to enforce the socket's ZAP domain");
}

void Socket::monitor(const std::string& endpoint, int events) {
    check_result(zmq_socket_monitor(zmq(), endpoint.c_str(), events),
                 "While trying to monitor socket");
}

std::string Socket::lastEndpoint() const {
    char endpoint[256];
    std::size_t length = sizeof endpoint;
    check_result(zmq_getsockopt(zmq(), ZMQ_LAST_ENDPOINT, endpoint, &length),
                 "While trying to read the socket's endpoint");
    return std::string(endpoint, length > 0 ? length - 1 : 0);  // without the zero byte
}

void Socket::send(const char* data, unsigned length, bool more) {
    check_result(zmq_send(zmq(), data, length, zmq_flags(!default_wait, more)),
                 "While trying to send frame");
}

void Socket::send(const std::string& data, bool more) {
    send(data.data(), static_cast<unsigned>(data.size()), more);
}

bool Socket::send_nowait(const char* data, unsigned length, bool more) {
    if (zmq_send(zmq(), data, length, zmq_flags(true, more)) != -1) return true;
    if (zmq_errno() == EAGAIN) return false;
    throw_error("While trying to send frame");
}

bool Socket::send_nowait(const std::string& data, bool more) {
    return send_nowait(data.data(), static_cast<unsigned>(data.size()), more);
}

int Socket::recv(char* buffer, unsigned size) {
    return check_result(zmq_recv(zmq(), buffer, size, 0), "While trying to receive frame");
}

std::size_t Socket::recv(Frame& frame) {
    check_result(zmq_msg_recv(static_cast<zmq_msg_t*>(frame.message()), zmq(), 0),
                 "While trying to receive frame");
    return frame.size();  // zmq_msg_recv's int result saturates for huge frames
}

bool Socket::checkMore() {
    int more = 0;
    std::size_t length = sizeof more;
    check_result(zmq_getsockopt(zmq(), ZMQ_RCVMORE, &more, &length),
                 "While trying to check for more message parts");
    return more == 1;
}

bool Socket::hasInput() {
    int events = 0;
    std::size_t length = sizeof events;
    check_result(zmq_getsockopt(zmq(), ZMQ_EVENTS, &events, &length),
                 "While trying to check socket for input");
    return (events & ZMQ_POLLIN) != 0;
}

void Socket::flushMessage() {
    try {
        char discarded;
        while (checkMore()) recv(&discarded, 1);
    } catch (const Exception&) {
        // The message is gone either way; the next call reports the socket's state.
    }
}

void Socket::close() {
    // Under the lock, so a signal's shutdown never closes the same handle.
    std::lock_guard lock(Context::getLock());
    closeLocked();
}

void Socket::closeLocked() {
    void* open_handle = zmq();
    if (open_handle == nullptr) return;
    check_result(zmq_close(open_handle), "While trying to close socket");
    handle.store(nullptr, std::memory_order_release);
}

void Socket::closeImmediately() noexcept {
    void* open_handle = zmq();
    if (open_handle == nullptr) return;
    const int no_linger = 0;
    // Once a signal has shut the context down, options can no longer be set
    // (ETERM); the watcher has set linger 0 already, and the socket must still
    // be closed or the context could never be destroyed.
    if (zmq_setsockopt(open_handle, ZMQ_LINGER, &no_linger, sizeof no_linger) == -1 &&
        zmq_errno() != ETERM) {
        return;
    }
    if (zmq_close(open_handle) == 0) handle.store(nullptr, std::memory_order_release);
}

}  // namespace cplt
