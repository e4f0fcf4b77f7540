// Soak run: a long stream of messages through a chain of three real kelnod
// processes (bottom → middle → top) while the middle node is killed and
// started again a few times. Nothing may crash, the bottom node must answer
// every message, every message must be published on the bottom node, and the
// nodes that run throughout must not grow.
//
//   kelno_soak [messages] [middle node restarts] [--sanitized]
//
// Defaults: 1000000 messages, 3 restarts. With --sanitized (daemons built with
// AddressSanitizer, whose quarantine holds freed memory on purpose) resident
// memory is reported but not judged; leaks show as a failed orderly stop.
//
// Exit status 0 when every check holds; the figures go to standard output.
#include <signal.h>
#include <zmq.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "DaemonProcess.hpp"
#include "RawPeer.hpp"

namespace {

using namespace std::chrono_literals;
using kelno_test::DaemonOptions;
using kelno_test::DaemonProcess;
using kelno_test::Frames;
using kelno_test::RawPeer;
using kelno_test::WireMessage;
using Clock = std::chrono::steady_clock;

constexpr int kWindow = 1000;                 // unacknowledged messages at most
constexpr int kRoutedEvery = 1000;            // one message in so many is kept for the middle node
constexpr long kAllowedGrowthKiB = 8 * 1024;  // "within a few MiB"
constexpr auto kStallLimit = 30s;             // the bottom node must answer within this

const char* const kLoadTopic = "load";
const char* const kProbeTopic = "probe";

// Queues large enough that the soak's own subscribers never miss a publication
// while they keep up; what is measured is the nodes, not the limits.
const std::string kNodeConfig = "kelno.broadcaster.send_queue=100000\n";

long resident_kib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Counts the publications of the load topic on one node, in its own thread.
class Subscriber {
public:
    explicit Subscriber(const DaemonProcess& node) : peer(ZMQ_SUB) {
        peer.connect(node.broadcasterEndpoint());
        peer.subscribe(kLoadTopic);
        peer.subscribe(kProbeTopic);
        reader = std::thread([this] { read(); });
    }
    ~Subscriber() {
        stop = true;
        reader.join();
    }

    long load() const { return load_count; }
    long probes() const { return probe_count; }

private:
    void read() {
        while (!stop) {
            auto frames = peer.receive(100ms);
            if (!frames) continue;
            if (frames->front() == kLoadTopic) {
                ++load_count;
            } else {
                ++probe_count;
            }
        }
    }

    RawPeer peer;
    std::atomic<bool> stop{false};
    std::atomic<long> load_count{0};
    std::atomic<long> probe_count{0};
    std::thread reader;
};

// Sends probes from the bottom until both subscribers have seen one, so that
// no load message is sent before every subscription and link is live.
bool wait_until_chain_is_live(RawPeer& sender, Subscriber& bottom, Subscriber& top) {
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        WireMessage probe;
        probe.app_id = kProbeTopic;
        sender.send(probe.frames());
        if (!sender.receive(5s)) return false;
        std::this_thread::sleep_for(100ms);  // a publication's way up takes a moment
        if (bottom.probes() > 0 && top.probes() > 0) return true;
    }
    return false;
}

struct Figures {
    long sent = 0;
    long acknowledged = 0;
    long resident_bottom_start = 0;
    long resident_top_start = 0;
};

bool fail(const std::string& why) {
    std::cout << "FAILED: " << why << std::endl;
    return false;
}

bool run(long message_count, int restarts, bool judge_memory) {
    DaemonProcess top({"top", std::nullopt, 1, kNodeConfig});
    DaemonProcess middle({"middle", top.channelerEndpoint(), 1, kNodeConfig});
    DaemonProcess bottom({"bottom", middle.channelerEndpoint(), 1, kNodeConfig});
    Subscriber bottom_subscriber(bottom);
    Subscriber top_subscriber(top);
    RawPeer sender(ZMQ_DEALER, "soak-sender");
    sender.connect(bottom.channelerEndpoint());
    if (!wait_until_chain_is_live(sender, bottom_subscriber, top_subscriber)) {
        return fail("the chain never carried a probe from bottom to top");
    }

    WireMessage load;
    load.app_id = kLoadTopic;
    load.payload = std::string(64, 'x');
    WireMessage routed = load;
    routed.routes = {"middle"};  // kept on the top node until the middle node polls

    Figures figures;
    const long warm_up = std::min(message_count / 20, 50000L);
    const long restart_every = message_count / (restarts + 1);
    long next_restart = restart_every;
    long top_at_last_restart = 0;
    long next_report = message_count / 10;
    const auto started = Clock::now();
    auto last_progress = Clock::now();

    while (figures.acknowledged < message_count) {
        while (figures.sent < message_count && figures.sent - figures.acknowledged < kWindow) {
            WireMessage& next = figures.sent % kRoutedEvery == 0 ? routed : load;
            next.id = kelno_test::fresh_message_id();
            sender.send(next.frames());
            ++figures.sent;
        }
        if (sender.receive(100ms)) {
            ++figures.acknowledged;
            last_progress = Clock::now();
        } else if (Clock::now() - last_progress > kStallLimit) {
            return fail("the bottom node stopped acknowledging at " +
                        std::to_string(figures.acknowledged) + "; it reported:\n" +
                        bottom.process().err());
        }

        if (figures.acknowledged == next_report) {
            next_report += message_count / 10;
            std::cout << "at " << figures.acknowledged
                      << " messages: resident memory of the bottom node "
                      << resident_kib(bottom.process().pid()) << " KiB, of the top node "
                      << resident_kib(top.process().pid()) << " KiB" << std::endl;
        }
        if (figures.acknowledged == warm_up && figures.resident_bottom_start == 0) {
            figures.resident_bottom_start = resident_kib(bottom.process().pid());
            figures.resident_top_start = resident_kib(top.process().pid());
        }
        if (restarts > 0 && figures.acknowledged == next_restart) {
            next_restart += restart_every;
            --restarts;
            top_at_last_restart = top_subscriber.load();
            std::cout << "killing and restarting the middle node at " << figures.acknowledged
                      << " messages" << std::endl;
            middle.kill();
            middle.restart();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    // The bottom node publishes everything it acknowledged; the top node
    // misses what was on its way while the middle node was down.
    const auto deadline = Clock::now() + 60s;
    while (bottom_subscriber.load() < message_count && Clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    long top_seen = -1;
    while (top_seen != top_subscriber.load() && Clock::now() < deadline) {
        top_seen = top_subscriber.load();
        std::this_thread::sleep_for(1s);  // until the top has been quiet for a second
    }
    const long resident_bottom_end = resident_kib(bottom.process().pid());
    const long resident_top_end = resident_kib(top.process().pid());

    std::cout << "messages sent and acknowledged: " << figures.acknowledged << " in " << seconds
              << " s (" << static_cast<long>(figures.acknowledged / seconds) << " per second)\n"
              << "published on the bottom node: " << bottom_subscriber.load() << "\n"
              << "published on the top node: " << top_subscriber.load() << " ("
              << message_count - top_subscriber.load()
              << " lost on the way while the middle node was down)\n"
              << "full queues reported by the bottom node: "
              << kelno_test::count_of(bottom.process().err(), "send queue full") << "\n"
              << "resident memory of the bottom node: " << figures.resident_bottom_start
              << " KiB after " << warm_up << " messages, " << resident_bottom_end
              << " KiB at the end\n"
              << "resident memory of the top node: " << figures.resident_top_start << " KiB after "
              << warm_up << " messages, " << resident_top_end << " KiB at the end" << std::endl;

    bool ok = true;
    if (bottom_subscriber.load() != message_count) {
        ok = fail("the bottom node published " + std::to_string(bottom_subscriber.load()));
    }
    if (top_subscriber.load() <= top_at_last_restart) {
        ok = fail("nothing reached the top node after the last restart of the middle node");
    }
    for (auto [name, start, end] :
         {std::tuple{"bottom", figures.resident_bottom_start, resident_bottom_end},
          std::tuple{"top", figures.resident_top_start, resident_top_end}}) {
        if (judge_memory && end - start > kAllowedGrowthKiB) {
            ok = fail(std::string("the ") + name + " node grew by " + std::to_string(end - start) +
                      " KiB");
        }
    }
    for (auto* node : {&bottom, &middle, &top}) {
        auto status = node->stop();
        if (status != 0 || !node->process().waitForOut("Done\n", 0ms)) {
            ok = fail("node " + node->nodeName() +
                      " did not stop in order: " + node->process().err());
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int restarts = argc > 2 ? std::atoi(argv[2]) : 3;
    const bool sanitized = argc > 3 && std::string(argv[3]) == "--sanitized";
    if (messages < 1000 || restarts < 0 || (argc > 3 && !sanitized) || argc > 4) {
        std::cerr << "kelno_soak [messages (at least 1000)] [middle node restarts] [--sanitized]"
                  << std::endl;
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    bool ok = false;
    try {
        ok = run(messages, restarts, !sanitized);
    } catch (const std::exception& error) {
        fail(error.what());
    }
    std::cout << (ok ? "soak passed" : "soak failed") << std::endl;
    return ok ? 0 : 1;
}
