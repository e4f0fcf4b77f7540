#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ChildProcess.hpp"
#include "TempDir.hpp"

namespace kelno_bench {

using kelno_test::ChildProcess;
using kelno_test::TempDir;

// Where the driver finds the programs it starts (given by the build).
struct Programs {
    std::string kelnod;
    std::string limit_relay;
    std::string floor;
    std::string mosquitto;
};

// One running node of a system under test, on free loopback ports. For
// Mosquitto both ports are the broker's one listener.
struct Node {
    std::unique_ptr<ChildProcess> process;
    int input_port = 0;   // channeler, relay ROUTER, MQTT listener
    int output_port = 0;  // broadcaster, relay PUB, MQTT listener
};

// Each returns once the node accepts connections; `upstream` is the input
// port of the node above. Configuration files go to `scratch`; kelnod's
// `extra_config` lines are added to its file as they are.
Node start_kelnod(const Programs& programs, const TempDir& scratch, const std::string& name,
                  std::optional<int> upstream = std::nullopt, const std::string& extra_config = "");
Node start_limit_relay(const Programs& programs, std::optional<int> upstream = std::nullopt);
Node start_mosquitto(const Programs& programs, const TempDir& scratch, const std::string& name,
                     std::optional<int> upstream = std::nullopt);
Node start_floor(const Programs& programs);

}  // namespace kelno_bench
