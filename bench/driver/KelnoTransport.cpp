#include "KelnoTransport.hpp"

#include <iostream>

#include "Payloads.hpp"

namespace kelno_bench {

namespace {

constexpr auto io_timeout = kelnom::Client::Milliseconds(1000);

}  // namespace

KelnoTransport::KelnoTransport(Progress& progress, int channeler_port,
                               int subscriber_channeler_port, int subscriber_broadcaster_port,
                               Options transport_options)
    : Transport(progress), options(std::move(transport_options)) {
    sender = std::make_unique<kelnom::Client>(options.app_id, subscriber_broadcaster_port,
                                              channeler_port, std::vector<std::string>{});
    sender_thread = std::thread([this] { run_io(*sender, sender_done); });
    if (!options.subscribe) return;
    subscriber = std::make_unique<kelnom::Client>(
        options.app_id + "-subscriber", subscriber_broadcaster_port, subscriber_channeler_port,
        std::vector<std::string>{options.app_id});
    subscriber->onMessage([this](std::unique_ptr<kelnom::Message> message) {
        if (options.acknowledge_deliveries) subscriber->sendAck(*message);
        this->progress.delivered();
    });
    subscriber_thread = std::thread([this] { run_io(*subscriber, subscriber_done); });
}

KelnoTransport::~KelnoTransport() {
    // A loop forgets a terminate() from before it started: ask until it ends.
    while (!sender_done || (subscriber && !subscriber_done)) {
        sender->terminate();
        if (subscriber) subscriber->terminate();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sender_thread.join();
    if (subscriber_thread.joinable()) subscriber_thread.join();
}

void KelnoTransport::publish(std::size_t size) {
    // The bytes are shared and never freed by the message: no copy, no
    // allocation for the body, as an application sending from its own buffer.
    kelnom::Payload payload(shared_payload(size), static_cast<std::uint32_t>(size), "bin", nullptr);
    sender->send(
        std::move(payload), options.push_routes, kelnom::Client::Seconds(60),
        [this] { progress.acknowledged(); }, kelnom::Message::AckMode::NoAck);
}

void KelnoTransport::run_io(kelnom::Client& client, std::atomic<bool>& done) {
    client.blockThreadForIO(
        [](kelnou::Exception& error) {
            std::cerr << "kelno client error: " << error.generateMessage() << std::endl;
        },
        io_timeout);
    done = true;
}

}  // namespace kelno_bench
