#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cplt {

// Values are ZeroMQ's own socket-type numbers.
enum class SocketType : int {
    Pair = 0,
    Pub = 1,
    Sub = 2,
    Rep = 4,
    Dealer = 5,
    Router = 6,
};

// One received ZeroMQ frame, owned. Its bytes stay valid until the frame is
// received into again or destroyed. Holds the frame in place, so a frame kept
// as a member receives without allocating on our side.
class Frame {
public:
    Frame();
    ~Frame();
    Frame(Frame&& other) noexcept;
    Frame& operator=(Frame&& other) noexcept;
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    char* data();
    const char* data() const;
    std::size_t size() const;

private:
    friend class Socket;
    void* message();  // the zmq_msg_t held in `storage`
    const void* message() const;
    alignas(8) unsigned char storage[64];
};

// Owning wrapper of one ZeroMQ socket. Every failing call raises a
// cplt::Exception carrying the operation's context line; after a SIGINT or
// SIGTERM has closed the process's sockets, calls raise cplt::ZmqTermination.
// Move-only; closing twice is harmless; the destructor closes with linger 0
// and never throws. A socket is used by one thread at a time.
class Socket {
public:
    explicit Socket(SocketType type);
    // Takes over the handle, the type and the default-wait flag, and the
    // source's place in the registry; the source is left closed.
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&&) = delete;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    virtual ~Socket();

    void connect(std::string endpoint);
    void bind(std::string endpoint);
    void setLingerTimeout(std::chrono::duration<int, std::milli> timeout);
    void setIdentity(const std::string& identity);
    void setSendTimeout(std::chrono::duration<int, std::milli> timeout);
    void setSendHWM(int hwm);
    void subscribe(std::string prefix);
    // ROUTER only: a new connection that presents an identity already in use
    // takes it over, instead of being ignored while the old one lingers.
    void setRouterHandover(bool handover);
    // A peer that sends a larger message is disconnected by ZeroMQ (0: no limit).
    void setMaxMessageSize(std::int64_t bytes);
    // PUB only: when on, a send that some subscriber's full queue cannot take
    // fails with EAGAIN for all of them instead of being dropped for that one.
    void setNoDrop(bool no_drop);
    // ZeroMQ's own heartbeat: a peer that answers no ping within `timeout`
    // (a stopped process, a cut cable) is disconnected.
    void setHeartbeat(std::chrono::duration<int, std::milli> interval,
                      std::chrono::duration<int, std::milli> timeout);
    // CURVE, set before bind or connect. A server needs its own secret key; a
    // client needs the server's public key and its own pair (all Z85 text).
    void setCurveServer(const std::string& secret_key);
    void setCurveClient(const std::string& server_public_key, const std::string& public_key,
                        const std::string& secret_key);
    // Every handshake on this socket asks the process's ZAP handler, under
    // `domain`; with none bound, or none answering yes, the peer is refused.
    void setZapDomainEnforced(const std::string& domain);
    // Reports this socket's connection events on a PAIR socket that connects
    // to `endpoint` (inproc); `events` is a mask of ZeroMQ's ZMQ_EVENT_ values.
    void monitor(const std::string& endpoint, int events);
    // The endpoint of the last bind, with the port ZeroMQ chose for port 0.
    std::string lastEndpoint() const;

    // When false, send() does not block and a full queue raises EAGAIN.
    void setDefaultWait(bool wait) { default_wait = wait; }

    void send(const char* data, unsigned length, bool more);
    void send(const std::string& data, bool more);

    // Never blocks: false when the frame would block (EAGAIN), true when queued.
    bool send_nowait(const char* data, unsigned length, bool more);
    bool send_nowait(const std::string& data, bool more);

    // Blocks for the next frame; stores at most `size` bytes and returns the
    // frame's full size, which may be larger (the rest is lost).
    int recv(char* buffer, unsigned size);

    // Blocks for the next frame and keeps all of it in `frame`; returns its size.
    std::size_t recv(Frame& frame);

    // True when more parts of the current message follow.
    bool checkMore();

    // True when a whole message can be received without waiting.
    bool hasInput();

    // Discards the rest of the current message; errors end it silently.
    void flushMessage();

    // Does nothing when already closed; on failure the socket stays open.
    void close();

    SocketType socketType() const { return type; }

    // Whether the socket still holds a ZeroMQ handle.
    bool isOpen() const { return handle.load(std::memory_order_acquire) != nullptr; }

private:
    friend class InputSelector;
    friend class Context;

    // The handle for a ZeroMQ call; null once closed, which ZeroMQ reports
    // as ENOTSOCK (and throw_error as termination after a signal).
    void* zmq() const { return handle.load(std::memory_order_acquire); }

    // Both need the layer's lock held by the caller.
    void closeLocked();
    void closeImmediately() noexcept;  // linger 0, then close (skipped if linger fails, unless the
                                       // context is shut down)

    SocketType type;
    // Atomic because a signal handler may close the socket on another thread.
    std::atomic<void*> handle;
    bool default_wait;
};

}  // namespace cplt
