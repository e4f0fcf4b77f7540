#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <vector>

#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Registry.hpp>
#include <kelnom/Sender.hpp>

namespace kelnom {

// An application's connection to the node daemon on its own machine.
//
// One thread hands itself to blockThreadForIO(): it alone touches the sockets
// and runs every callback. Other threads may call send(), terminate(),
// termData() and id(). A client is never copied or moved: its selector and
// receivers point at its own members.
class Client {
public:
    using Clock = std::chrono::steady_clock;  // intervals survive wall-clock jumps
    using Seconds = std::chrono::duration<std::int64_t>;
    using Milliseconds = std::chrono::duration<std::int64_t, std::milli>;
    using ResultCallback = std::function<void()>;
    using MessageCallback = std::function<void(std::unique_ptr<Message>)>;
    using RegistryCallback = std::function<void(std::shared_ptr<Registry>)>;
    using ErrorHandler = std::function<void(kelnou::Exception&)>;

    // The termination flag shared with other threads.
    class TerminationData {
    public:
        TerminationData() = default;
        // A copy is a fresh flag with its own mutex.
        TerminationData(const TerminationData&) {}
        TerminationData& operator=(const TerminationData&) { return *this; }

        void terminate();
        // The flag; read or write it while holding termLock().
        bool& isTermed() { return termed; }
        std::mutex& termLock() { return mutex; }

    private:
        bool termed = false;
        std::mutex mutex;
    };

    // Outgoing messages, shortest validity first.
    class MessageQueue {
    public:
        MessageQueue();
        MessageQueue(MessageQueue&& other);

        void push(Message& message);  // moves the message in
        // Calls `operation` with the head under the lock; removes the head when
        // it returns true. False without a call when the queue is empty.
        bool performOperation(std::function<bool(const Message&)> operation);

        static bool determine_priority(const Message& a, const Message& b);

    private:
        std::mutex mutex;
        std::priority_queue<Message, std::deque<Message>, bool (*)(const Message&, const Message&)>
            messages;
    };

    // Callbacks waiting for the acknowledgement of a message id.
    class MsgResultCallbacks {
    public:
        MsgResultCallbacks() = default;
        MsgResultCallbacks(MsgResultCallbacks&& other);

        void registerCallback(Message& message, ResultCallback callback);
        // Runs and removes the callback registered for the ack's id, if any.
        void handleAck(internal_objects::Ack& ack);

    private:
        std::mutex mutex;
        std::map<std::string, ResultCallback> callbacks;
    };

    Client(std::string id, int broadcaster_port, int channeler_port,
           std::vector<std::string> subscriptions);
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    // Nothing is flushed: queued messages and waiting callbacks are discarded.
    virtual ~Client();

    // The I/O loop; returns on terminate(), on a signal, or after the first
    // error (handed to `handler`).
    void blockThreadForIO(ErrorHandler handler, Milliseconds timeout);
    bool check(Milliseconds timeout);
    void onMessage(MessageCallback callback);
    const std::string& id() const { return app_id; }
    void terminate() { term_data.terminate(); }
    TerminationData& termData() { return term_data; }

    // Sending (any thread): builds, registers the callback, queues.
    void send(Message message, ResultCallback callback);
    void send(char* buffer, unsigned int size, std::string payload_type,
              std::vector<std::string> routes, Seconds valid_for, ResultCallback callback,
              Message::AckMode ack_mode);
    void send(Payload payload, std::vector<std::string> routes, Seconds valid_for,
              ResultCallback callback, Message::AckMode ack_mode);

    // I/O thread only.
    void sendAck(const Message& message);
    void obtainRegistry(RegistryCallback callback, Seconds interval);

    bool send_one_msg();
    void send_all_msgs();
    void send_inbox();
    void send_get_registry();

    void receive_on_listener(cplt::Socket* socket);
    void receive_on_dispenser(cplt::Socket* socket);
    void handle_request(std::unique_ptr<internal_objects::Request> request);

private:
    Clock::time_point last_inbox;
    Seconds inbox_interval;
    std::unique_ptr<std::mutex> inbox_lock;
    MessageQueue message_queue;
    MsgResultCallbacks result_callbacks;
    MessageCallback message_callback;
    RegistryCallback registry_callback;
    Seconds registry_interval;
    Clock::time_point last_registry_request;
    cplt::Socket listener;
    Receiver listener_receiver;
    cplt::Socket dispenser;
    Receiver dispenser_receiver;
    Sender dispenser_sender;
    cplt::InputSelector selector;
    std::string app_id;
    std::vector<std::string> subscriptions;
    TerminationData term_data;
};

}  // namespace kelnom
