#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kelnom/Client.hpp>

#include "DaemonProcess.hpp"

// Helpers for tests that run a kelnom::Client against a real or stand-in node.
namespace client_test {

using namespace std::chrono_literals;

constexpr auto kWait = std::chrono::milliseconds(15000);       // bound of every wait
constexpr auto kIoTimeout = kelnom::Client::Milliseconds(50);  // the loop's quiet poll

// Observations from any thread, waited for with a bound.
class Events {
public:
    void add(std::string event);
    std::vector<std::string> all() const;
    std::size_t count(const std::string& event) const;
    bool waitFor(const std::function<bool(const std::vector<std::string>&)>& done,
                 std::chrono::milliseconds timeout = kWait) const;
    bool waitForCount(const std::string& event, std::size_t count,
                      std::chrono::milliseconds timeout = kWait) const;

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> events;
};

// blockThreadForIO on a thread of its own, called `runs` times in a row (a
// run ends at the first error). Handled errors are kept as their
// generateMessage(); the destructor terminates the loop and joins.
class IoThread {
public:
    explicit IoThread(kelnom::Client& client, kelnom::Client::Milliseconds timeout = kIoTimeout,
                      int runs = 1);
    ~IoThread();
    IoThread(const IoThread&) = delete;
    IoThread& operator=(const IoThread&) = delete;

    std::thread::id id() const { return thread.get_id(); }
    Events& errors() { return handled_errors; }
    // True once blockThreadForIO has returned `count` times.
    bool waitReturned(std::chrono::milliseconds timeout = kWait, std::size_t count = 1) const;
    // Terminates until the thread has finished, then joins.
    void stop();

private:
    kelnom::Client& client;
    Events handled_errors;
    Events returned;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// Terminates a client whose loop runs on the test's own thread if the test
// has not finished in time, so that no wait is unbounded.
class Watchdog {
public:
    explicit Watchdog(kelnom::Client& client, std::chrono::milliseconds timeout = kWait);
    ~Watchdog();

private:
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread thread;
};

kelnom::Payload text_payload(const std::string& text);
std::string payload_text(const kelnom::internal_objects::PayloadRequest& request);

std::unique_ptr<kelnom::Client> make_client(const kelno_test::DaemonProcess& daemon,
                                            const std::string& id,
                                            std::vector<std::string> subscriptions = {});

// Queues a message whose payload is `text`; `on_ack` may be empty.
void send_text(kelnom::Client& client, const std::string& text,
               kelnom::Client::ResultCallback on_ack = {}, std::vector<std::string> routes = {},
               kelnom::Client::Seconds valid_for = kelnom::Client::Seconds(5));

// A client whose deliveries are recorded as their payload texts and whose
// result callbacks record the text of the acknowledged message.
struct RecordingClient {
    RecordingClient(const kelno_test::DaemonProcess& daemon, const std::string& id,
                    std::vector<std::string> subscriptions = {});
    RecordingClient(const RecordingClient&) = delete;  // callbacks point at this object
    RecordingClient& operator=(const RecordingClient&) = delete;

    void sendRecorded(const std::string& text, std::vector<std::string> routes = {},
                      kelnom::Client::Seconds valid_for = kelnom::Client::Seconds(5));
    void start() { io = std::make_unique<IoThread>(*client); }

    std::unique_ptr<kelnom::Client> client;
    Events received;      // payload texts of delivered messages
    Events received_ids;  // their message ids, in the same order
    Events acked;         // texts of messages whose ack came back
    std::unique_ptr<IoThread> io;
};

constexpr const char* kProbe = "probe";

// Publications reach a subscriber only once its subscription has reached the
// daemon: `sender` publishes probes until every subscriber has received one.
bool await_subscriptions(RecordingClient& sender, std::vector<RecordingClient*> subscribers);

// The delivered texts without the probes.
std::vector<std::string> without_probes(const std::vector<std::string>& texts);

}  // namespace client_test
