#include "cplt/InputSelector.hpp"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <string>

#include <zmq.h>

#include <kelnou/Exception.hpp>
#include "cplt/Exception.hpp"
#include "cplt/Socket.hpp"

namespace cplt {

namespace {

constexpr const char* poll_context = "Failed to check sockets for available input";

}  // namespace

InputSelector::InputSelector(std::vector<std::pair<Socket*, Handler>> entries,
                             std::vector<std::pair<int, DescriptorHandler>> descriptors)
    : entries(std::move(entries)), descriptors(std::move(descriptors)) {
    static_assert(sizeof(PollItem) == sizeof(zmq_pollitem_t) &&
                      offsetof(PollItem, socket) == offsetof(zmq_pollitem_t, socket) &&
                      offsetof(PollItem, fd) == offsetof(zmq_pollitem_t, fd) &&
                      offsetof(PollItem, events) == offsetof(zmq_pollitem_t, events) &&
                      offsetof(PollItem, revents) == offsetof(zmq_pollitem_t, revents),
                  "PollItem must be laid out as zmq_pollitem_t");

    // zmq_poll counts its items in an int.
    if (this->entries.size() > static_cast<std::size_t>(INT_MAX) - this->descriptors.size()) {
        throw kelnou::GeneralException("Cannot create input selector with more than " +
                                       std::to_string(INT_MAX) + " sockets");
    }
    items.reserve(this->entries.size() + this->descriptors.size());
    for (const auto& [socket, handler] : this->entries) {
        items.push_back({socket != nullptr ? socket->zmq() : nullptr, 0, ZMQ_POLLIN, 0});
    }
    for (const auto& [fd, handler] : this->descriptors) {
        // poll() would skip a negative descriptor silently and never wake.
        if (fd < 0) {
            throw kelnou::GeneralException(
                "Cannot create input selector with negative file descriptor " + std::to_string(fd));
        }
        items.push_back({nullptr, fd, ZMQ_POLLIN, 0});
    }
}

void InputSelector::checkHandlesUnchanged() const {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Socket* socket = entries[i].first;
        if (items[i].socket == nullptr || socket == nullptr || socket->zmq() != items[i].socket) {
            // A closed handle may already be freed, and a null one would make
            // zmq_poll watch descriptor 0: neither is handed to ZeroMQ.
            errno = ENOTSOCK;
            throw_error(poll_context);
        }
    }
}

bool InputSelector::run(std::chrono::duration<long, std::milli> timeout) {
    checkHandlesUnchanged();
    const int ready = check_result(zmq_poll(reinterpret_cast<zmq_pollitem_t*>(items.data()),
                                            static_cast<int>(items.size()), timeout.count()),
                                   poll_context);
    if (ready == 0) return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (items[i].revents & ZMQ_POLLIN) entries[i].second(entries[i].first);
    }
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        // An error is served too: its handler sees it when it reads, where
        // skipping it would make every later run() return at once for nothing.
        if (items[entries.size() + i].revents & (ZMQ_POLLIN | ZMQ_POLLERR)) {
            descriptors[i].second(descriptors[i].first);
        }
    }
    return true;
}

}  // namespace cplt
