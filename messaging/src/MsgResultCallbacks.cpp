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
    callbacks.insert_or_assign(message.msgId(), std::move(callback));
}

void Client::MsgResultCallbacks::handleAck(internal_objects::Ack& ack) {
    std::lock_guard<std::mutex> lock(mutex);
    auto waiting = callbacks.find(ack.messageId());
    if (waiting == callbacks.end()) return;
    // Erased only after a normal return: a callback that raises stays waiting.
    waiting->second();
    callbacks.erase(waiting);
}

}  // namespace kelnom
