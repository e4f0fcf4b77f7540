#include <kelnom/Client.hpp>

#include <utility>

namespace kelnom {

Client::MessageQueue::MessageQueue() : messages(&MessageQueue::determine_priority) {}

Client::MessageQueue::MessageQueue(MessageQueue&& other)
    : messages(&MessageQueue::determine_priority) {
    std::lock_guard<std::mutex> lock(other.mutex);
    messages = std::move(other.messages);
}

void Client::MessageQueue::push(Message& message) {
    std::lock_guard<std::mutex> lock(mutex);
    messages.push(std::move(message));
}

bool Client::MessageQueue::performOperation(std::function<bool(const Message&)> operation) {
    std::lock_guard<std::mutex> lock(mutex);
    if (messages.empty()) return false;
    if (!operation(messages.top())) return false;
    messages.pop();
    return true;
}

bool Client::MessageQueue::determine_priority(const Message& a, const Message& b) {
    return b.validFor() < a.validFor();
}

}  // namespace kelnom
