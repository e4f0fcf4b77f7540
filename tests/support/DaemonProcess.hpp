#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ChildProcess.hpp"
#include "TempDir.hpp"

namespace kelno_test {

// Settings of a kelnod started for a test.
struct DaemonOptions {
    std::string node_name = "node";
    std::optional<std::string> upstream;  // channeler endpoint of the upstream node
    int inbox_interval = 1;               // seconds
    std::string extra_config;             // appended to the generated file as is
};

// A real kelnod on free loopback ports with a generated configuration file.
// The constructor returns once the daemon answers on its channeler; the
// destructor stops it (SIGTERM, then SIGKILL if it does not end in time).
class DaemonProcess {
public:
    explicit DaemonProcess(DaemonOptions options = {});
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    int channelerPort() const { return channeler_port; }
    int broadcasterPort() const { return broadcaster_port; }
    std::string channelerEndpoint() const;    // "tcp://127.0.0.1:<port>"
    std::string broadcasterEndpoint() const;  // "tcp://127.0.0.1:<port>"
    const std::string& nodeName() const { return options.node_name; }

    ChildProcess& process() { return *child; }

    // SIGTERM and wait; the exit status (nothing if it did not end in time).
    std::optional<int> stop();
    // SIGKILL and wait: the node ends without a chance to close anything.
    void kill();
    // Starts the daemon again on the same ports with the same configuration
    // file, once the previous process has ended; returns once it answers.
    // process() is then the new process.
    void restart();

private:
    void start();

    DaemonOptions options;
    TempDir dir;
    int channeler_port;
    int broadcaster_port;
    std::string config_path;
    std::unique_ptr<ChildProcess> child;
};

// Path of the kelnod binary of this build tree.
std::string kelnod_path();
// Path of a program of this build tree by target name (kelno_prompt, ...).
std::string program_path(const std::string& name);

}  // namespace kelno_test
