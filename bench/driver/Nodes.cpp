#include "Nodes.hpp"

#include <sys/stat.h>
#include <zmq.h>

#include <stdexcept>

#include "FreePort.hpp"

namespace kelno_bench {

namespace {

using kelno_test::free_port;

constexpr std::chrono::seconds start_timeout(10);

// A child of the driver dies with it, and is stopped as a service manager
// would (SIGTERM, then SIGKILL). Its output goes nowhere, as to a journal
// nobody reads: collecting it would load the machine being measured.
kelno_test::ChildOptions bench_child() {
    kelno_test::ChildOptions options;
    options.output_path = "/dev/null";
    options.die_with_parent = true;
    options.stop_grace = std::chrono::seconds(3);
    return options;
}

struct Ports {
    int input;
    int output;
};

Ports two_free_ports() {
    Ports ports{free_port(), free_port()};
    while (ports.output == ports.input) ports.output = free_port();
    return ports;
}

Node started(std::unique_ptr<ChildProcess> process, Ports ports, const std::string& what) {
    if (!kelno_test::wait_for_listener(ports.input, start_timeout) ||
        !kelno_test::wait_for_listener(ports.output, start_timeout)) {
        throw std::runtime_error(what + " did not start listening");
    }
    return Node{std::move(process), ports.input, ports.output};
}

std::string loopback_endpoint(int port) { return "tcp://127.0.0.1:" + std::to_string(port); }

}  // namespace

CurveKeys curve_key_pair() {
    char public_key[41];
    char secret_key[41];
    do {
        if (zmq_curve_keypair(public_key, secret_key) != 0) {
            throw std::runtime_error("libzmq cannot make CURVE keys");
        }
    } while (std::string(public_key).find('#') != std::string::npos);
    return {public_key, secret_key};
}

Node start_kelnod(const Programs& programs, const TempDir& scratch, const std::string& name,
                  std::optional<int> upstream, const std::string& extra_config,
                  const KelnodCurve* curve) {
    const Ports ports = two_free_ports();
    // The first line that sets a key wins: the caller's lines come first, so
    // they may change the inbox interval below.
    std::string config = extra_config + "kelno.node_name=" + name + "\n" +
                         "kelno.channeler.port=" + std::to_string(ports.input) + "\n" +
                         "kelno.broadcaster.port=" + std::to_string(ports.output) + "\n" +
                         "kelno.inbox_interval=2\n";
    if (upstream) config += "kelno.forwarder.remote=" + loopback_endpoint(*upstream) + "\n";
    int secure_port = 0;
    if (curve) {
        const std::string key_file =
            scratch.write(name + ".key", "public_key=" + curve->own.public_key +
                                             "\nsecret_key=" + curve->own.secret_key + "\n");
        ::chmod(key_file.c_str(), 0600);
        config += "kelno.secure.key_file=" + key_file + "\n";
        if (curve->below) {
            secure_port = free_port();
            while (secure_port == ports.input || secure_port == ports.output) {
                secure_port = free_port();
            }
            config += "kelno.secure.port=" + std::to_string(secure_port) + "\n" +
                      "kelno.secure.authorized_keys=" +
                      scratch.write(name + ".authorized", *curve->below + "\n") + "\n" +
                      "kelno.channeler.bind=127.0.0.1\n";
        }
        if (curve->above) config += "kelno.forwarder.server_key=" + *curve->above + "\n";
    }
    const std::string config_path = scratch.write(name + ".conf", config);
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{programs.kelnod, config_path}, bench_child());
    Node node = started(std::move(process), ports, "kelnod " + name);
    if (secure_port != 0 && !kelno_test::wait_for_listener(secure_port, start_timeout)) {
        throw std::runtime_error("kelnod " + name + " did not open its secure port");
    }
    node.secure_port = secure_port;
    return node;
}

Node start_limit_relay(const Programs& programs, std::optional<int> upstream) {
    const Ports ports = two_free_ports();
    std::vector<std::string> argv{programs.limit_relay, std::to_string(ports.input),
                                  std::to_string(ports.output)};
    if (upstream) argv.push_back(loopback_endpoint(*upstream));
    return started(std::make_unique<ChildProcess>(argv, bench_child()), ports, "limit relay");
}

Node start_mosquitto(const Programs& programs, const TempDir& scratch, const std::string& name,
                     std::optional<int> upstream) {
    const int port = free_port();
    // No persistence, no logging beyond errors; the in-flight and queue
    // limits are raised so that the benchmark's window always fits.
    std::string config = "listener " + std::to_string(port) + " 127.0.0.1\n" +
                         "allow_anonymous true\n"
                         "persistence false\n"
                         "log_dest stderr\n"
                         "log_type error\n"
                         "max_inflight_messages 0\n"
                         "max_queued_messages 1000000\n";
    if (upstream) {
        // A bridge to the broker above, passing our topic up at QoS 1.
        config += "connection " + name + "-up\n" +
                  "address 127.0.0.1:" + std::to_string(*upstream) + "\n" +
                  "topic kelno-bench out 1\n"
                  "cleansession true\n"
                  "bridge_protocol_version mqttv311\n";
    }
    const std::string config_path = scratch.write(name + "-mosquitto.conf", config);
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{programs.mosquitto, "-c", config_path}, bench_child());
    return started(std::move(process), Ports{port, port}, "mosquitto " + name);
}

Node start_floor(const Programs& programs) {
    const Ports ports = two_free_ports();
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{programs.floor, std::to_string(ports.input),
                                 std::to_string(ports.output)},
        bench_child());
    return started(std::move(process), ports, "floor");
}

}  // namespace kelno_bench
