#include <kelnom/Client.hpp>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string_view>
#include <utility>

#include <cplt/Exception.hpp>
#include <kelnom/Exception.hpp>
#include <kelnom/GetRegistry.hpp>
#include <kelnom/Inbox.hpp>

namespace kelnom {

namespace {

constexpr auto kFirstInboxPollOffset = std::chrono::seconds(60);
constexpr auto kInboxInterval = std::chrono::seconds(20);
// Time points count nanoseconds in 64 bits (about 292 years either way); a
// longer registry interval would overflow them, and means "never again" anyway.
constexpr Client::Seconds kLongestInterval = std::chrono::hours(24 * 365 * 100);

const char* const kQueuedNodeUnavailable = "Kelno Node is not available";
const char* const kControlNodeUnavailable = "KelNo Node is not available!";

// Runs `write` with the line that `context_line()` makes added to any error;
// when ZeroMQ did not take a frame (EAGAIN) the reader learns first that the
// node is away. The line is made only on failure: most name the message, and
// building them for every message that goes out well would cost an allocation
// each.
template <typename ContextLine, typename Write>
void write_to_node(const char* unavailable_line, ContextLine&& context_line, Write&& write) {
    try {
        write();
    } catch (cplt::Exception& error) {
        if (error.errorNumber() == EAGAIN) error.addContext(unavailable_line);
        error.throwWithContext(context_line());
    } catch (kelnou::Exception& error) {
        error.throwWithContext(context_line());
    }
}

// One pass writes at most this many queued messages and reads at most this
// many requests per socket before it looks at the other side: a sender that
// never pauses still has its acknowledgements read, and a flood of
// publications does not hold up the queue.
constexpr int kWriteBatch = 256;
constexpr int kReadBatch = 256;
// How often the loop looks for registrations whose acknowledgement is overdue.
constexpr auto kOverdueCheckInterval = std::chrono::seconds(60);

constexpr const char* send_all_context = "While trying to send all queued messages";
constexpr const char* listener_context = "While trying to read request on Client listener";
constexpr const char* dispenser_context = "While trying to read request on Client dispenser";

}  // namespace

// ---- Termination ----------------------------------------------------------

void Client::TerminationData::terminate() {
    std::lock_guard<std::mutex> lock(mutex);
    termed = true;
    if (wake_up != nullptr) wake_up->wake();
}

bool Client::terminationRequested() {
    std::lock_guard<std::mutex> lock(term_data.termLock());
    return term_data.isTermed();
}

// ---- Construction ---------------------------------------------------------

Client::Client(std::string id, int broadcaster_port, int channeler_port,
               std::vector<std::string> subscriptions)
    : last_inbox(Clock::now() - kFirstInboxPollOffset),  // the first pass polls at once
      inbox_interval(kInboxInterval),
      inbox_lock(std::make_unique<std::mutex>()),
      registry_interval(-1),
      last_registry_request(),
      last_overdue_check(Clock::now()),
      listener(cplt::SocketType::Sub),
      listener_receiver(&listener),
      dispenser(cplt::SocketType::Dealer),
      dispenser_receiver(&dispenser),
      dispenser_sender(&dispenser),
      selector({{&listener, [this](cplt::Socket* socket) { receive_on_listener(socket); }},
                {&dispenser, [this](cplt::Socket* socket) { receive_on_dispenser(socket); }}},
               {{wake_up.fd(),
                 [this](int) {
                     wake_up.drain();
                     // After the drain: a send() between the two has queued its
                     // message already, and the pass that follows writes it.
                     wake_pending = false;
                     woken = true;
                 }}}),
      app_id(std::move(id)),
      subscriptions(std::move(subscriptions)),
      term_data(wake_up) {
    const std::string broadcaster = std::to_string(broadcaster_port);
    kelnou::with_context("While trying to connect subscriber to tcp:://localhost:" + broadcaster,
                         [&] {
                             listener.setIdentity(app_id + "|lstn");
                             for (const std::string& prefix : this->subscriptions) {
                                 listener.subscribe(prefix);
                             }
                             listener.connect("tcp://localhost:" + broadcaster);
                         });
    const std::string channeler = std::to_string(channeler_port);
    kelnou::with_context("While trying to connect two way comms to tcp:://localhost:" + channeler,
                         [&] {
                             dispenser.setIdentity(app_id + "|disp");
                             dispenser.connect("tcp://localhost:" + channeler);
                         });
}

Client::~Client() {
    // A terminate() on another thread that is still writing the wake-up holds
    // the lock: wait for it before the descriptor goes.
    std::lock_guard<std::mutex> lock(term_data.termLock());
}

// ---- The I/O loop ---------------------------------------------------------

void Client::blockThreadForIO(ErrorHandler handler, Milliseconds timeout) {
    {
        // A terminate() from before this call is forgotten.
        std::lock_guard<std::mutex> lock(term_data.termLock());
        term_data.isTermed() = false;
    }
    try {
        while (!terminationRequested()) {
            const bool more_to_write = send_all_msgs();
            woken = false;
            if (more_to_write) {
                // Read what has arrived meanwhile, without waiting, then go on writing.
                check(Milliseconds(0));
                continue;
            }
            // Read until one poll stays quiet for the whole timeout, or until
            // send() or terminate() wakes us: the queue and the flag are
            // looked at before the next read. A wake-up sent while the queue
            // was being written is still pending and only costs a pass.
            while (check(timeout) && !woken) {
            }
        }
    } catch (const cplt::ZmqTermination&) {
        // A signal closed the sockets: the order to stop, not an error.
    } catch (kelnou::Exception& error) {
        if (handler) handler(error);
    } catch (...) {
        if (!handler) return;
        kelnou::GeneralException unknown(
            "An unknown error occured. We do not know how to handle it");
        handler(unknown);
        throw;
    }
}

bool Client::check(Milliseconds timeout) {
    // The selector counts in a long, 32 bits on our target: a longer wait is
    // cut to fit instead of wrapping into a busy loop or an endless wait.
    const std::int64_t milliseconds =
        std::clamp<std::int64_t>(timeout.count(), -1, std::numeric_limits<long>::max());
    return selector.run(std::chrono::duration<long, std::milli>(static_cast<long>(milliseconds)));
}

void Client::onMessage(MessageCallback callback) { message_callback = std::move(callback); }

// ---- Reading --------------------------------------------------------------

void Client::receive_on_listener(cplt::Socket* socket) {
    for (int read = 0; read < kReadBatch; ++read) {
        kelnou::with_context(listener_context, [&] {
            // The topic: the subscription matched it already.
            std::unique_ptr<internal_objects::Request> request =
                listener_receiver.receivePublished().request;
            if (request->kind() != RequestKind::Message) {
                throw ProtocolError(
                    "Don't expect other types of requests on listener other than Message. "
                    "Received a request with wire name: " +
                    std::string(request->wireName()));
            }
            handle_request(std::move(request));
        });
        if (!socket->hasInput()) return;
    }
}

void Client::receive_on_dispenser(cplt::Socket* socket) {
    for (int read = 0; read < kReadBatch; ++read) {
        kelnou::with_context(dispenser_context,
                             [&] { handle_request(dispenser_receiver.receive()); });
        if (!socket->hasInput()) return;
    }
}

void Client::handle_request(std::unique_ptr<internal_objects::Request> request) {
    switch (request->kind()) {
        case RequestKind::Message: {
            if (!message_callback) return;
            std::unique_ptr<Message> message(static_cast<Message*>(request.release()));
            std::lock_guard<std::mutex> lock(*inbox_lock);
            message_callback(std::move(message));
            return;
        }
        case RequestKind::Registry: {
            std::shared_ptr<Registry> registry(static_cast<Registry*>(request.release()));
            if (registry_callback) registry_callback(registry);
            return;
        }
        case RequestKind::Ack:
            result_callbacks.handleAck(static_cast<internal_objects::Ack&>(*request));
            return;
        case RequestKind::Inbox:
        case RequestKind::GetRegistry:
            return;  // they mean nothing to a client
    }
}

// ---- Sending messages -----------------------------------------------------

void Client::send(Message message, ResultCallback callback) {
    // Registered first, so the entry exists before the ack can come back.
    result_callbacks.registerCallback(message, std::move(callback));
    message_queue.push(message);
    if (!wake_pending.exchange(true)) wake_up.wake();
}

void Client::send(char* buffer, unsigned int size, std::string payload_type,
                  std::vector<std::string> routes, Seconds valid_for, ResultCallback callback,
                  Message::AckMode ack_mode) {
    send(Payload(buffer, size, std::move(payload_type)), std::move(routes), valid_for,
         std::move(callback), ack_mode);
}

void Client::send(Payload payload, std::vector<std::string> routes, Seconds valid_for,
                  ResultCallback callback, Message::AckMode ack_mode) {
    Message::Config config(app_id, std::move(routes), valid_for, ack_mode);
    send(Message(std::move(payload), std::move(config)), std::move(callback));
}

bool Client::send_one_msg() {
    return message_queue.performOperation([this](const Message& message) {
        // A failed write leaves the message at the head for the next pass.
        write_to_node(
            kQueuedNodeUnavailable,
            [&] { return "While trying to send queued message id=" + message.msgId(); },
            [&] { dispenser_sender.send(message, nullptr); });
        result_callbacks.startWaiting(message.msgId(), Clock::now());
        return true;
    });
}

bool Client::send_all_msgs() {
    const bool more_to_write = kelnou::with_context(send_all_context, [&] {
        for (int written = 0; written < kWriteBatch; ++written) {
            if (!send_one_msg()) return false;
        }
        return true;
    });
    if (registry_callback) send_get_registry();
    send_inbox();
    releaseOverdueCallbacks();
    return more_to_write;
}

void Client::releaseOverdueCallbacks() {
    const auto now = Clock::now();
    if (now < last_overdue_check + kOverdueCheckInterval) return;
    last_overdue_check = now;
    result_callbacks.releaseOverdue(now);
}

// ---- Acknowledgements, inbox and registry ---------------------------------

void Client::sendAck(const Message& message) {
    write_to_node(
        kControlNodeUnavailable,
        [&] { return "While trying to acknowledge message with id: " + message.msgId(); },
        [&] { dispenser_sender.send(message.generate_ack(), nullptr); });
}

void Client::send_inbox() {
    std::lock_guard<std::mutex> lock(*inbox_lock);
    if (!(last_inbox + inbox_interval < Clock::now())) return;
    write_to_node(
        kControlNodeUnavailable,
        [&] { return "While trying to check inbox of our application id: " + app_id; },
        [&] {
            dispenser_sender.send(
                internal_objects::Inbox(app_id, internal_objects::InboxType::Client), nullptr);
            last_inbox = Clock::now();
        });
}

void Client::obtainRegistry(RegistryCallback callback, Seconds interval) {
    registry_callback = std::move(callback);
    registry_interval = std::clamp(interval, -kLongestInterval, kLongestInterval);
    last_registry_request = Clock::now() - registry_interval;  // due at once
}

void Client::send_get_registry() {
    if (!(last_registry_request + registry_interval < Clock::now())) return;
    write_to_node(
        kControlNodeUnavailable, [] { return "While trying to send registry request"; },
        [&] {
            dispenser_sender.send(internal_objects::GetRegistry(), nullptr);
            last_registry_request = Clock::now();
        });
}

}  // namespace kelnom
