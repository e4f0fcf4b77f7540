#pragma once

#include <atomic>
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
#include <cplt/WakeUp.hpp>
#include <kelnom/Ack.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Registry.hpp>
#include <kelnom/Sender.hpp>
#include <kelnou/Exception.hpp>

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
        // terminate() also wakes `wake_up`, so a waiting loop sees the flag at once.
        explicit TerminationData(cplt::WakeUp& wake_up) : wake_up(&wake_up) {}
        // A copy is a fresh flag with its own mutex and wakes nothing;
        // assignment changes nothing.
        TerminationData(const TerminationData&) {}
        TerminationData& operator=(const TerminationData&) { return *this; }

        // Sets the flag and wakes the loop, both under the lock, so a client
        // destroyed once its loop has returned is never woken afterwards (its
        // destructor takes the lock). Safe from any thread.
        void terminate();
        // The flag; read or write it while holding termLock(). Setting it here
        // wakes nothing: the loop sees it after its current series of reads.
        bool& isTermed() { return termed; }
        std::mutex& termLock() { return mutex; }

    private:
        bool termed = false;
        std::mutex mutex;
        cplt::WakeUp* wake_up = nullptr;
    };

    // Outgoing messages, shortest validity first. Equal validities keep no
    // particular order. A message leaves only once it has been written.
    class MessageQueue {
    public:
        MessageQueue();
        // Takes over the source's messages; the new queue has its own mutex.
        MessageQueue(MessageQueue&& other);

        void push(Message& message);  // moves the message in
        // Calls `operation` with the head under the lock; removes the head when
        // it returns true. False without a call when the queue is empty. An
        // exception from `operation` leaves the head in place.
        bool performOperation(std::function<bool(const Message&)> operation);

        // The heap's "less": true when `b` has the shorter validity.
        static bool determine_priority(const Message& a, const Message& b);

    private:
        using Compare = bool (*)(const Message&, const Message&);

        std::mutex mutex;
        std::priority_queue<Message, std::deque<Message>, Compare> messages;
    };

    // Callbacks waiting for the acknowledgement of a message id.
    //
    // A node acknowledges a message as soon as it has it. A registration whose
    // message was written to the node `_ack_wait` ago without an answer is
    // released without being run: the node dropped the acknowledgement (its
    // queue for us was full, or it restarted with the message in flight) or
    // never answers. A message still queued in the client waits as long as it
    // takes. Destroying the client releases every registration.
    class MsgResultCallbacks {
    public:
        static constexpr std::chrono::minutes _ack_wait{10};

        MsgResultCallbacks() = default;
        // Takes over the source's callbacks; the new object has its own mutex.
        MsgResultCallbacks(MsgResultCallbacks&& other);

        // Stores `callback` under the message's id, replacing an earlier one;
        // an empty callback is not stored.
        void registerCallback(Message& message, ResultCallback callback);
        // The message went to the node at `now`: its wait for the ack starts.
        void startWaiting(const std::string& message_id, Clock::time_point now);
        // Runs the callback registered for the ack's id, under the lock, and
        // removes it once it has returned; nothing when the id is unknown. A
        // callback that raises stays registered.
        void handleAck(internal_objects::Ack& ack);
        // Releases the registrations whose wait ran out before `now`; returns
        // how many went.
        std::size_t releaseOverdue(Clock::time_point now);
        std::size_t size();

    private:
        struct Waiting {
            ResultCallback callback;
            Clock::time_point deadline;  // max() until the message is written
        };
        std::mutex mutex;
        std::map<std::string, Waiting> callbacks;
    };

    // Connects in the background: succeeds whether or not a daemon listens.
    Client(std::string id, int broadcaster_port, int channeler_port,
           std::vector<std::string> subscriptions);
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    // Nothing is flushed: queued messages and waiting callbacks are discarded.
    virtual ~Client();

    // The I/O loop; returns on terminate(), on a signal, or after the first
    // error (handed to `handler`). Call it again to go on. Reads until a poll
    // stays quiet for `timeout` or until send() or terminate() wakes it, then
    // writes what is due. Reading keeps pace with writing: a long queue is
    // written a batch at a time, with what has arrived read in between, so
    // the node's acknowledgements never pile up unread.
    void blockThreadForIO(ErrorHandler handler, Milliseconds timeout);
    // One poll of both sockets; true when something was read and handled, or
    // when the loop was woken. Reads a batch of what is ready on each socket.
    bool check(Milliseconds timeout);
    // Not synchronised: call before blockThreadForIO() or on the I/O thread.
    void onMessage(MessageCallback callback);
    const std::string& id() const { return app_id; }
    void terminate() { term_data.terminate(); }
    TerminationData& termData() { return term_data; }

    // Sending (any thread): builds, registers the callback, queues, and wakes
    // the I/O loop, which writes the queue at once.
    void send(Message message, ResultCallback callback);
    // The payload takes the buffer over and releases it with array delete.
    void send(char* buffer, unsigned int size, std::string payload_type,
              std::vector<std::string> routes, Seconds valid_for, ResultCallback callback,
              Message::AckMode ack_mode);
    void send(Payload payload, std::vector<std::string> routes, Seconds valid_for,
              ResultCallback callback, Message::AckMode ack_mode);

    // I/O thread only.
    void sendAck(const Message& message);
    // Not synchronised: call before blockThreadForIO() or on the I/O thread.
    // Starts a periodic registry query; the first one is due at once.
    void obtainRegistry(RegistryCallback callback, Seconds interval);

    // The I/O thread's steps, in the order of one pass.
    bool send_one_msg();
    // Writes the queue (at most one batch; true when more is left), then
    // whatever control request is due.
    bool send_all_msgs();
    void send_inbox();
    void send_get_registry();

    // Selector handlers and dispatch of what they read.
    void receive_on_listener(cplt::Socket* socket);
    void receive_on_dispenser(cplt::Socket* socket);
    void handle_request(std::unique_ptr<internal_objects::Request> request);

private:
    bool terminationRequested();
    void releaseOverdueCallbacks();

    Clock::time_point last_inbox;
    Seconds inbox_interval;
    std::unique_ptr<std::mutex> inbox_lock;
    MessageQueue message_queue;
    MsgResultCallbacks result_callbacks;
    MessageCallback message_callback;
    RegistryCallback registry_callback;
    Seconds registry_interval;
    Clock::time_point last_registry_request;
    Clock::time_point last_overdue_check;
    cplt::Socket listener;
    Receiver listener_receiver;
    cplt::Socket dispenser;
    Receiver dispenser_receiver;
    Sender dispenser_sender;
    cplt::WakeUp wake_up;  // sent by send() and terminate(), waited for by `selector`
    // Set by the send() that wakes the loop, cleared once the loop has seen the
    // wake-up: sends in between need not wake it again (one system call less
    // per message in a burst).
    std::atomic<bool> wake_pending{false};
    bool woken = false;  // I/O thread only: the current series of reads was woken
    cplt::InputSelector selector;
    std::string app_id;
    std::vector<std::string> subscriptions;
    TerminationData term_data;
};

}  // namespace kelnom
