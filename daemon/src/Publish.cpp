#include "Publish.hpp"

#include "Console.hpp"

namespace kelnod {

void publish_locally(kelnom::Sender& broadcaster, const kelnom::Message& message) {
    const std::string topic = message.appId();
    send_or_report(
        [&] { broadcaster.send(message, &topic); },
        [&](const kelnou::Exception& error) {
            report("Failed to send message on publisher, error read: " + error.generateMessage());
        });
}

}  // namespace kelnod
