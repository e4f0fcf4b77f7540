#include <kelnom/Client.hpp>

#include <utility>

namespace kelnom {

Client::MsgResultCallbacks::MsgResultCallbacks(MsgResultCallbacks&& other) {
    std::lock_guard<std::mutex> lock(other.mutex);
    callbacks = std::move(other.callbacks);
}

void Client::MsgResultCallbacks::registerCallback(Message& message, ResultCallback callback) {
    if (!callback) return;
    std::lock_guard<std::mutex> lock(mutex);
    callbacks.insert_or_assign(message.msgId(),
                               Waiting{std::move(callback), Clock::time_point::max()});
}

void Client::MsgResultCallbacks::startWaiting(const std::string& message_id,
                                              Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex);
    if (callbacks.empty()) return;
    auto waiting = callbacks.find(message_id);
    if (waiting != callbacks.end()) waiting->second.deadline = now + _ack_wait;
}

void Client::MsgResultCallbacks::handleAck(internal_objects::Ack& ack) {
    std::lock_guard<std::mutex> lock(mutex);
    auto waiting = callbacks.find(ack.messageId());
    if (waiting == callbacks.end()) return;
    // Erased only after a normal return: a callback that raises stays waiting.
    waiting->second.callback();
    callbacks.erase(waiting);
}

std::size_t Client::MsgResultCallbacks::releaseOverdue(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex);
    std::size_t released = 0;
    for (auto waiting = callbacks.begin(); waiting != callbacks.end();) {
        if (waiting->second.deadline < now) {
            waiting = callbacks.erase(waiting);
            ++released;
        } else {
            ++waiting;
        }
    }
    return released;
}

std::size_t Client::MsgResultCallbacks::size() {
    std::lock_guard<std::mutex> lock(mutex);
    return callbacks.size();
}

}  // namespace kelnom
