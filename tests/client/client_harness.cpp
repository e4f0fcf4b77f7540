#include "client_harness.hpp"

#include <algorithm>
#include <cstring>

namespace client_test {

void Events::add(std::string event) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(event));
    }
    changed.notify_all();
}

std::vector<std::string> Events::all() const {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

std::size_t Events::count(const std::string& event) const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::count(events.begin(), events.end(), event);
}

bool Events::waitFor(const std::function<bool(const std::vector<std::string>&)>& done,
                     std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return done(events); });
}

bool Events::waitForCount(const std::string& event, std::size_t count,
                          std::chrono::milliseconds timeout) const {
    return waitFor(
        [&](const std::vector<std::string>& seen) {
            return static_cast<std::size_t>(std::count(seen.begin(), seen.end(), event)) >= count;
        },
        timeout);
}

IoThread::IoThread(kelnom::Client& io_client, kelnom::Client::Milliseconds timeout, int runs)
    : client(io_client) {
    thread = std::thread([this, timeout, runs] {
        for (int run = 0; run < runs && !stopping; ++run) {
            try {
                client.blockThreadForIO(
                    [this](kelnou::Exception& error) {
                        handled_errors.add(error.generateMessage());
                    },
                    timeout);
            } catch (const std::exception& error) {
                // A foreign error leaves the loop after its handler ran.
                handled_errors.add(std::string("rethrown: ") + error.what());
            }
            returned.add("returned");
        }
        returned.add("finished");
    });
}

IoThread::~IoThread() { stop(); }

bool IoThread::waitReturned(std::chrono::milliseconds timeout, std::size_t count) const {
    return returned.waitForCount("returned", count, timeout);
}

void IoThread::stop() {
    if (!thread.joinable()) return;
    stopping = true;
    // A terminate() that lands between two runs is forgotten by the next one.
    do {
        client.terminate();
    } while (!returned.waitForCount("finished", 1, std::chrono::milliseconds(100)));
    thread.join();
}

Watchdog::Watchdog(kelnom::Client& client, std::chrono::milliseconds timeout) {
    thread = std::thread([this, &client, timeout] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, timeout, [this] { return done; })) client.terminate();
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    finished.notify_all();
    thread.join();
}

kelnom::Payload text_payload(const std::string& text) {
    kelnom::Payload payload(static_cast<std::uint32_t>(text.size()), "text");
    std::memcpy(payload.getBuffer(), text.data(), text.size());
    return payload;
}

std::string payload_text(const kelnom::internal_objects::PayloadRequest& request) {
    return std::string(request.payload().getBuffer(), request.payload().size());
}

std::unique_ptr<kelnom::Client> make_client(const kelno_test::DaemonProcess& daemon,
                                            const std::string& id,
                                            std::vector<std::string> subscriptions) {
    return std::make_unique<kelnom::Client>(id, daemon.broadcasterPort(), daemon.channelerPort(),
                                            std::move(subscriptions));
}

void send_text(kelnom::Client& client, const std::string& text,
               kelnom::Client::ResultCallback on_ack, std::vector<std::string> routes,
               kelnom::Client::Seconds valid_for) {
    client.send(text_payload(text), std::move(routes), valid_for, std::move(on_ack),
                kelnom::Message::AckMode::Ack);
}

RecordingClient::RecordingClient(const kelno_test::DaemonProcess& daemon, const std::string& id,
                                 std::vector<std::string> subscriptions)
    : client(make_client(daemon, id, std::move(subscriptions))) {
    client->onMessage([this](std::unique_ptr<kelnom::Message> message) {
        received_ids.add(message->msgId());
        received.add(payload_text(*message));
    });
}

void RecordingClient::sendRecorded(const std::string& text, std::vector<std::string> routes,
                                   kelnom::Client::Seconds valid_for) {
    send_text(
        *client, text, [this, text] { acked.add(text); }, std::move(routes), valid_for);
}

bool await_subscriptions(RecordingClient& sender, std::vector<RecordingClient*> subscribers) {
    auto all_probed = [&](std::chrono::milliseconds timeout) {
        for (RecordingClient* subscriber : subscribers) {
            if (!subscriber->received.waitForCount(kProbe, 1, timeout)) return false;
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        send_text(*sender.client, kProbe);
        if (all_probed(100ms)) return true;
    }
    return false;
}

std::vector<std::string> without_probes(const std::vector<std::string>& texts) {
    std::vector<std::string> kept;
    for (const std::string& text : texts) {
        if (text != kProbe) kept.push_back(text);
    }
    return kept;
}

}  // namespace client_test
