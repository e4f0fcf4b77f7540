#include "DaemonProcess.hpp"

#include <signal.h>
#include <zmq.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "FreePort.hpp"
#include "RawPeer.hpp"

namespace kelno_test {

namespace {

std::string generate_config(const DaemonOptions& options, int channeler_port,
                            int broadcaster_port) {
    std::string text;
    text += "kelno.node_name=" + options.node_name + "\n";
    text += "kelno.channeler.port=" + std::to_string(channeler_port) + "\n";
    text += "kelno.broadcaster.port=" + std::to_string(broadcaster_port) + "\n";
    text += "kelno.inbox_interval=" + std::to_string(options.inbox_interval) + "\n";
    if (options.upstream) text += "kelno.forwarder.remote=" + *options.upstream + "\n";
    text += options.extra_config;
    return text;
}

// Several tries: a query sent before the daemon bound its channeler may be
// lost with the connection attempt that carried it.
bool answers_registry_query(const std::string& endpoint, ChildProcess& child) {
    constexpr int attempts = 5;
    constexpr auto wait_per_attempt = std::chrono::milliseconds(2000);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (child.waitExit(std::chrono::milliseconds(0))) return false;
        // A plain libzmq peer: the helper must not hide our own libraries' faults.
        RawPeer dealer(ZMQ_DEALER);
        dealer.connect(endpoint);
        dealer.trySend(registry_query_frames());  // a query not taken is one more try
        if (dealer.receive(wait_per_attempt)) return true;
    }
    return false;
}

}  // namespace

DaemonProcess::DaemonProcess(DaemonOptions daemon_options)
    : options(std::move(daemon_options)),
      channeler_port(free_port()),
      broadcaster_port(free_port()) {
    while (broadcaster_port == channeler_port) broadcaster_port = free_port();
    config_path =
        dir.write("kelnod.conf", generate_config(options, channeler_port, broadcaster_port));
    start();
}

void DaemonProcess::start() {
    child = std::make_unique<ChildProcess>(std::vector<std::string>{kelnod_path(), config_path});
    if (!answers_registry_query(channelerEndpoint(), *child)) {
        throw std::runtime_error("kelnod did not answer on " + channelerEndpoint() +
                                 "\nout: " + child->out() + "\nerr: " + child->err());
    }
}

DaemonProcess::~DaemonProcess() {
    if (!stop()) {
        child->signal(SIGKILL);
        child->waitExit(std::chrono::seconds(5));
    }
}

void DaemonProcess::kill() {
    child->signal(SIGKILL);
    if (!child->waitExit(std::chrono::seconds(10))) {
        throw std::runtime_error("kelnod did not end after SIGKILL");
    }
}

void DaemonProcess::restart() {
    if (!child->waitExit(std::chrono::milliseconds(0))) {
        throw std::runtime_error("restart() needs the previous kelnod to have ended");
    }
    // A port of an ended process can be bound again at once: ZeroMQ binds
    // with SO_REUSEADDR.
    start();
}

std::string DaemonProcess::channelerEndpoint() const {
    return "tcp://127.0.0.1:" + std::to_string(channeler_port);
}

std::string DaemonProcess::broadcasterEndpoint() const {
    return "tcp://127.0.0.1:" + std::to_string(broadcaster_port);
}

std::optional<int> DaemonProcess::stop() {
    if (auto status = child->waitExit(std::chrono::milliseconds(0))) return status;
    child->signal(SIGTERM);
    return child->waitExit(std::chrono::seconds(10));
}

std::string kelnod_path() { return KELNO_KELNOD_PATH; }

std::string program_path(const std::string& name) {
    if (name == "kelnod") return KELNO_KELNOD_PATH;
    if (name == "kelno_prompt") return KELNO_PROMPT_PATH;
    if (name == "kelno_mirror_json") return KELNO_MIRROR_JSON_PATH;
    if (name == "kelno_json_tester") return KELNO_JSON_TESTER_PATH;
    if (name == "kelno_stats") return KELNO_STATS_PATH;
    throw std::invalid_argument("unknown program " + name);
}

}  // namespace kelno_test
