// kelno_prompt: sends typed lines to named nodes and prints the text messages
// delivered to the given application ids.
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <cplt/Exception.hpp>
#include <kelnom/Client.hpp>

#include "IoLoopEnd.hpp"
#include "PayloadPrinting.hpp"
#include "PendingAcknowledgements.hpp"
#include "PromptDialogue.hpp"
#include "WorkerThread.hpp"

namespace {

constexpr kelnom::Client::Seconds registry_interval{5};
constexpr kelnom::Client::Seconds message_validity{20};
constexpr kelnom::Client::Milliseconds io_timeout{1000};
// How long the prompt, once told to quit, waits for its last messages to go out.
constexpr std::chrono::seconds last_acknowledgement_wait{5};

// What the prompt thread learns from the I/O thread.
struct IoThreadNews {
    PendingAcknowledgements acknowledgements;
    kelno_tools::IoLoopEnd loop_end;
};

void send_text(kelnom::Client& client, PendingAcknowledgements& acknowledgements,
               std::vector<std::string> routes, const std::string& text) {
    acknowledgements.sent();
    // The text with its zero byte; the client releases it with array delete.
    const auto size = static_cast<unsigned int>(text.size() + 1);
    char* buffer = new char[size];
    std::memcpy(buffer, text.c_str(), size);
    client.send(
        buffer, size, "text", std::move(routes), message_validity,
        [&acknowledgements] {
            std::cout << "Message sent!" << std::endl;
            acknowledgements.acknowledged();
        },
        kelnom::Message::AckMode::Ack);
}

void sender_prompt_thread_fn(kelnom::Client* client, IoThreadNews* news) {
    try {
        run_prompt(std::cin, std::cout,
                   [client, news](std::vector<std::string> routes, const std::string& text) {
                       send_text(*client, news->acknowledgements, std::move(routes), text);
                   });
        news->acknowledgements.waitForAll(last_acknowledgement_wait);
    } catch (...) {
        // A failed pass ends the prompt at once, without the quit line.
    }
    news->loop_end.terminateClient(*client);
}

// Acknowledges first, so a message is acknowledged even when printing it fails.
// A signal that lands meanwhile is the order to stop, not an error of this
// message: it goes on to end the I/O loop.
void print_message(kelnom::Client& client, std::unique_ptr<kelnom::Message> message) {
    try {
        client.sendAck(*message);
        print_delivered_payload(std::cout, message->payload());
    } catch (const cplt::ZmqTermination&) {
        throw;
    } catch (kelnou::Exception& error) {
        std::cerr << "While handling received message. Kelno Error: " << error.generateMessage()
                  << std::endl;
    }
}

void print_io_error(kelnou::Exception& error) {
    std::cerr << "From IO thread: " << error.generateMessage() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 1;
    int channeler_port = 0;
    int broadcaster_port = 0;
    try {
        channeler_port = std::stoi(argv[2]);
        broadcaster_port = std::stoi(argv[3]);
    } catch (const std::logic_error& error) {
        std::cerr << "You have passed weird stuff to this, read the exception." << std::endl;
        std::cerr << error.what() << std::endl;
        return 1;
    }

    std::unique_ptr<kelnom::Client> client;
    try {
        client = std::make_unique<kelnom::Client>(argv[1], broadcaster_port, channeler_port,
                                                  std::vector<std::string>(argv + 4, argv + argc));
    } catch (kelnou::Exception& error) {
        std::cerr << error.generateMessage() << std::endl;
        return 1;
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return 1;
    }
    client->obtainRegistry(
        [](std::shared_ptr<kelnom::Registry> registry) { print_registry(std::cout, *registry); },
        registry_interval);
    client->onMessage([&client](std::unique_ptr<kelnom::Message> message) {
        print_message(*client, std::move(message));
    });

    IoThreadNews news;
    std::thread prompt = kelno_tools::start_worker_thread(
        [&client, &news] { sender_prompt_thread_fn(client.get(), &news); });

    try {
        client->blockThreadForIO(print_io_error, io_timeout);
    } catch (const std::exception& error) {
        // Not one of ours (the loop has reported it already); the loop is over all the same.
        std::cerr << "From IO thread: " << error.what() << std::endl;
    }
    news.acknowledgements.abandon();
    news.loop_end.markEnded();

    std::cout << "Received quit signal from prompter. PLEASE EXIT BY TYPING EXIT." << std::endl;
    prompt.join();
    return 0;
}
