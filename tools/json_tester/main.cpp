// kelno_json_tester: sends a changing JSON document every few seconds under
// one application id, to watch with kelno_mirror_json.
#include <iostream>
#include <stdexcept>
#include <string>

#include <kelnom/Client.hpp>

#include "SenderThread.hpp"
#include "ToolMain.hpp"

namespace {

void print_usage(const std::string& invocation) {
    std::cerr << invocation << " expects at three arguments." << std::endl;
    std::cerr << "Usage: " << invocation << " channeler_port broadcaster_port app_id" << std::endl;
    std::cerr << std::endl;
    std::cerr << "Also remember to start kelnod." << std::endl;
}

int run_tester(int channeler_port, int broadcaster_port, const std::string& app_id) {
    kelnom::Client client(app_id, broadcaster_port, channeler_port, {});
    SenderThread sender(client);
    std::cout << "Set up Kelno and sending test json objects on the Kelno on app_id=" << app_id
              << std::endl;

    client.blockThreadForIO(kelno_tools::report_and_terminate(client),
                            kelnom::Client::Milliseconds(1000));

    sender.stop();
    std::cout << "Closing down json mirror tester..." << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        print_usage(kelno_tools::invocation_name(argc, argv, "kelno_json_tester"));
        return 1;
    }
    const auto ports = kelno_tools::read_ports(argv[1], argv[2]);
    if (!ports) return 1;
    std::string app_id;
    try {
        app_id = argv[3];
    } catch (const std::exception&) {
        std::cout << "Failed to retrieve argument for app_id" << std::endl;
        return 1;
    }
    return kelno_tools::run_or_abort("kelno_json_tester", [&] {
        return run_tester(ports->channeler, ports->broadcaster, app_id);
    });
}
