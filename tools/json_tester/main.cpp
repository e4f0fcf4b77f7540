// kelno_json_tester: sends a changing JSON document every few seconds under
// one application id, to watch with kelno_mirror_json.
#include <iostream>
#include <stdexcept>
#include <string>

#include <kelnom/Client.hpp>

#include "SenderThread.hpp"

namespace {

void print_usage(const std::string& invocation) {
    std::cerr << invocation << " expects at three arguments." << std::endl;
    std::cerr << "Usage: " << invocation << " channeler_port broadcaster_port app_id"
              << std::endl;
    std::cerr << std::endl;
    std::cerr << "Also remember to start kelnod." << std::endl;
}

void print_failure(const std::string& message) {
    std::cerr << "kelno_json_tester kelno failure... " << std::endl;
    std::cerr << message << std::endl;
    std::cerr << "Aborting..." << std::endl;
}

int run_tester(int channeler_port, int broadcaster_port, const std::string& app_id) {
    kelnom::Client client(app_id, broadcaster_port, channeler_port, {});
    SenderThread sender(client);
    std::cout << "Set up Kelno and sending test json objects on the Kelno on app_id=" << app_id
              << std::endl;

    // Any error of the I/O loop ends the program.
    client.blockThreadForIO(
        [&client](kelnou::Exception& error) {
            std::cerr << "There was an exception with Kelno:" << std::endl;
            std::cerr << error.generateMessage() << std::endl;
            client.terminate();
        },
        kelnom::Client::Milliseconds(1000));

    sender.stop();
    std::cout << "Closing down json mirror tester..." << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        print_usage(argv[0]);
        return 1;
    }
    int channeler_port = 0;
    int broadcaster_port = 0;
    try {
        channeler_port = std::stoi(argv[1]);
        broadcaster_port = std::stoi(argv[2]);
    } catch (const std::logic_error& error) {
        std::cerr << "Failed to retrieve values for ports... " << error.what() << std::endl;
        return 1;
    }
    std::string app_id;
    try {
        app_id = argv[3];
    } catch (const std::exception&) {
        std::cout << "Failed to retrieve argument for app_id" << std::endl;
        return 1;
    }
    try {
        return run_tester(channeler_port, broadcaster_port, app_id);
    } catch (kelnou::Exception& error) {
        print_failure(error.generateMessage());
    } catch (const std::exception& error) {
        // Rethrown by the I/O loop (an error that is not ours); still an orderly end.
        print_failure(error.what());
    }
    return 1;
}
