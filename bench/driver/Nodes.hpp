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
    int secure_port = 0;  // kelnod's secure port, when it has one
};

// A CURVE key pair (Z85); the public key holds no '#', which would start a
// comment in a configuration file.
struct CurveKeys {
    std::string public_key;
    std::string secret_key;
};
CurveKeys curve_key_pair();

// CURVE for one kelnod of a chain: with `below`, a secure port that lets in
// the node below's key; with `above`, the forwarder connects over CURVE to
// the secure port of the node above with that server key.
struct KelnodCurve {
    CurveKeys own;
    std::optional<std::string> below;  // public key of the node below
    std::optional<std::string> above;  // public key of the node above
};

// Each returns once the node accepts connections; `upstream` is the input
// port of the node above (its secure port with `curve->above`).
// Configuration files go to `scratch`; kelnod's `extra_config` lines are
// added to its file as they are, ahead of the defaults written here (an inbox
// interval of 2 s), which they thus override.
Node start_kelnod(const Programs& programs, const TempDir& scratch, const std::string& name,
                  std::optional<int> upstream = std::nullopt, const std::string& extra_config = "",
                  const KelnodCurve* curve = nullptr);
Node start_limit_relay(const Programs& programs, std::optional<int> upstream = std::nullopt);
Node start_mosquitto(const Programs& programs, const TempDir& scratch, const std::string& name,
                     std::optional<int> upstream = std::nullopt);
Node start_floor(const Programs& programs);

}  // namespace kelno_bench
