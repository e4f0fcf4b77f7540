#pragma once

#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include <kelnom/Client.hpp>

// What the mirror and the tester share around their client: reading the port
// arguments, the I/O error handler, and the failure block.
namespace kelno_tools {

struct Ports {
    int channeler;
    int broadcaster;
};

// The name the program was started under, as its usage text shows it; a
// program may be started with no arguments at all, not even its name.
inline std::string invocation_name(int argc, char** argv, const char* program) {
    return argc > 0 && argv[0] != nullptr ? argv[0] : program;
}

// The two port arguments as numbers; nothing (after saying why on standard
// error) when one of them is not a number.
inline std::optional<Ports> read_ports(const char* channeler, const char* broadcaster) {
    try {
        return Ports{std::stoi(channeler), std::stoi(broadcaster)};
    } catch (const std::logic_error& error) {
        std::cerr << "Failed to retrieve values for ports... " << error.what() << std::endl;
        return std::nullopt;
    }
}

// Reports an error of the I/O loop and ends the program by stopping the client.
inline kelnom::Client::ErrorHandler report_and_terminate(kelnom::Client& client) {
    return [&client](kelnou::Exception& error) {
        std::cerr << "There was an exception with Kelno:" << std::endl;
        std::cerr << error.generateMessage() << std::endl;
        client.terminate();
    };
}

// Runs the program's body; a failure that leaves it is printed as the
// program's failure block and gives status 1.
template <typename Body>
int run_or_abort(const std::string& program, Body&& body) {
    std::string message;
    try {
        return body();
    } catch (kelnou::Exception& error) {
        message = error.generateMessage();
    } catch (const std::exception& error) {
        // Rethrown by the I/O loop (an error that is not ours); still an orderly end.
        message = error.what();
    }
    std::cerr << program << " kelno failure... " << std::endl;
    std::cerr << message << std::endl;
    std::cerr << "Aborting..." << std::endl;
    return 1;
}

}  // namespace kelno_tools
