// kelno_mirror_json: prints every message delivered for the given application
// ids. It never sends and never acknowledges what it prints.
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <kelnom/Client.hpp>

#include "MessageBlock.hpp"
#include "ToolMain.hpp"

namespace {

const char* const own_app_id = "mirror_json";

void print_usage(const std::string& invocation) {
    std::cerr << invocation << " expects at least three arguments." << std::endl;
    std::cerr << "Usage: " << invocation
              << " channeler_port broadcaster_port app_id [additional_app_ids ...]" << std::endl;
    std::cerr << std::endl;
    std::cerr << "Also remember to start kelnod." << std::endl;
}

void handle_message(std::unique_ptr<kelnom::Message> message) {
    print_message_block(std::cout, *message);
}

int run_mirror(int channeler_port, int broadcaster_port, std::vector<std::string> app_ids) {
    kelnom::Client client(own_app_id, broadcaster_port, channeler_port, app_ids);
    client.onMessage(handle_message);

    std::cout << "Set up Kelno and waiting for messages from { ";
    for (const std::string& app_id : app_ids) std::cout << app_id << ' ';
    std::cout << "}" << std::endl;

    // Any error of the I/O loop ends the program.
    client.blockThreadForIO(kelno_tools::report_and_terminate(client),
                            kelnom::Client::Milliseconds(1000));

    std::cout << "Closing down mirrorer..." << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        print_usage(kelno_tools::invocation_name(argc, argv, "kelno_mirror_json"));
        return 1;
    }
    const auto ports = kelno_tools::read_ports(argv[1], argv[2]);
    if (!ports) return 1;
    return kelno_tools::run_or_abort("kelno_mirror_json", [&] {
        return run_mirror(ports->channeler, ports->broadcaster,
                          std::vector<std::string>(argv + 3, argv + argc));
    });
}
