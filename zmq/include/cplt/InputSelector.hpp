#pragma once

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace cplt {

class Socket;

// Polls a fixed list of sockets, and optionally plain file descriptors, and
// calls one handler per socket with input, in list order, then one per ready
// descriptor. The sockets must stay open while the selector is run: a socket
// closed (or moved from) since construction makes run() raise ENOTSOCK, or
// cplt::ZmqTermination when a signal closed it. A descriptor's handler must
// consume what made it ready, or the next run() returns at once.
class InputSelector {
public:
    using Handler = std::function<void(Socket*)>;
    using DescriptorHandler = std::function<void(int)>;

    explicit InputSelector(std::vector<std::pair<Socket*, Handler>> entries,
                           std::vector<std::pair<int, DescriptorHandler>> descriptors = {});
    virtual ~InputSelector() = default;

    // Waits up to `timeout` (-1: no limit). False when nothing arrived; true
    // after the handlers of the ready sockets and descriptors have run.
    // A handler's exception leaves run() at once.
    bool run(std::chrono::duration<long, std::milli> timeout);

private:
    void checkHandlesUnchanged() const;

    struct PollItem {
        void* socket;
        int fd;
        short events;
        short revents;
    };

    std::vector<std::pair<Socket*, Handler>> entries;
    std::vector<std::pair<int, DescriptorHandler>> descriptors;
    // Laid out as zmq_pollitem_t: the sockets' items, then the descriptors'.
    std::vector<PollItem> items;
};

// Placeholder message type of the layer; nothing uses it.
class Message {
public:
    Message() = default;
    virtual ~Message() = default;
};

}  // namespace cplt
