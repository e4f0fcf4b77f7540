// kelno_stats: prints the next statistics document of the local node,
// indented, and ends. It only listens: the node publishes the document under
// "kelno.stats" every kelno.stats.interval seconds, and without that setting
// nothing comes, which the bounded wait says.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include <cplt/Exception.hpp>
#include <kelnom/Client.hpp>

#include "MessageBlock.hpp"
#include "ToolMain.hpp"

namespace {

const char* const own_app_id = "kelno_stats";
const char* const stats_app_id = "kelno.stats";
constexpr long default_wait_seconds = 30;
constexpr long longest_wait_seconds = 86400;

void print_usage(const std::string& invocation) {
    std::cerr << "Usage: " << invocation << " channeler_port broadcaster_port [wait_seconds]"
              << std::endl;
    std::cerr << "Prints the node's next statistics document; waits at most wait_seconds ("
              << default_wait_seconds << ") for it." << std::endl;
}

std::optional<long> read_wait_seconds(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1 ||
        value > longest_wait_seconds) {
        std::cerr << "wait_seconds must be a whole number from 1 to " << longest_wait_seconds
                  << " (read \"" << text << "\")" << std::endl;
        return std::nullopt;
    }
    return value;
}

int print_next_document(const kelno_tools::Ports& ports, std::chrono::seconds wait) {
    kelnom::Client client(own_app_id, ports.broadcaster, ports.channeler, {stats_app_id});
    std::optional<nlohmann::json> document;
    client.onMessage([&document](std::unique_ptr<kelnom::Message> message) {
        // The subscription is a prefix: "kelno.stats.more" would match it too.
        if (document || message->appId() != stats_app_id) return;
        document = parse_json_payload(message->payload());
    });

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    try {
        while (!document) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) break;
            client.check(std::chrono::ceil<kelnom::Client::Milliseconds>(left));
        }
    } catch (const cplt::ZmqTermination&) {
        std::cerr << "Stopped before a statistics document came." << std::endl;
        return 1;
    }
    if (!document) {
        std::cerr << "No statistics document came from the node on ports " << ports.channeler
                  << " and " << ports.broadcaster << " within " << wait.count()
                  << " seconds (is kelno.stats.interval set?)" << std::endl;
        return 1;
    }
    std::cout << document->dump(2) << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        print_usage(kelno_tools::invocation_name(argc, argv, "kelno_stats"));
        return 1;
    }
    const auto ports = kelno_tools::read_ports(argv[1], argv[2]);
    if (!ports) return 1;
    std::optional<long> wait = default_wait_seconds;
    if (argc == 4) wait = read_wait_seconds(argv[3]);
    if (!wait) return 1;
    return kelno_tools::run_or_abort(
        "kelno_stats", [&] { return print_next_document(*ports, std::chrono::seconds(*wait)); });
}
