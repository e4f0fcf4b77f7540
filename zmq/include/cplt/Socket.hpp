#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace cplt {

// Values are ZeroMQ's own socket-type numbers.
enum class SocketType : int {
    Pub = 1,
    Sub = 2,
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
    alignas(8) unsigned char storage[64];
};

// Owning wrapper of one ZeroMQ socket. Every failing call raises a
// cplt::Exception carrying the operation's context line. Move-only; closing
// twice is harmless; the destructor closes with linger 0 and never throws.
class Socket {
public:
    explicit Socket(SocketType type);
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

    // When false, send() does not block and a full queue raises EAGAIN.
    void setDefaultWait(bool wait) { default_wait = wait; }

    void send(const char* data, unsigned length, bool more);
    void send(const std::string& data, bool more);

    // Never blocks: false when the frame would block (EAGAIN), true when queued.
    bool send_nowait(const char* data, unsigned length, bool more);
    bool send_nowait(const std::string& data, bool more);

    // Blocks for the next frame; stores at most `size` bytes and returns the
    // frame's full size, which may be larger.
    int recv(char* buffer, unsigned size);

    // Blocks for the next frame and keeps all of it in `frame`; returns its size.
    std::size_t recv(Frame& frame);

    // True when more parts of the current message follow.
    bool checkMore();

    // Discards the rest of the current message; errors end it silently.
    void flushMessage();

    void close();

    SocketType socketType() const { return type; }

    // Whether the socket still holds a ZeroMQ handle.
    bool isOpen() const { return handle != nullptr; }

private:
    friend class InputSelector;
    friend class Context;

    SocketType type;
    void* handle;
    bool default_wait;
};

}  // namespace cplt
