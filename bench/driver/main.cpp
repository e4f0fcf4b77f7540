// kelno_bench: Kelno side by side with the limit of its wire protocol on
// libzmq and with Mosquitto, on loopback. Prints a markdown table on standard
// output (progress on standard error).
//   kelno_bench [--quick] [--only S1,S1S,S2,S3,S4,S5,S6] [--kelnod PROGRAM] [--armhf-build DIR]
// S1S (S1 on a node with kelno.stats.interval=1 beside one without) runs only
// when named.
//   kelno_bench --count N [--kelnod PROGRAM]
// --kelnod runs another program as the daemon, e.g. a script that execs the
// real one under valgrind. It must exec: the driver stops the process it
// started, and a kelnod left behind as a wrapper's child would outlive it.
// --armhf-build names a build tree of the armhf cross build (`make bench` makes
// build-bench-armhf): S5 reports the sizes of its binaries and libraries too.
// --count sends exactly N 64-byte messages through one kelnod to a subscriber
// and prints nothing else: run under callgrind with two values of N, the
// difference gives the instructions per message.
#include <sys/utsname.h>
#include <zmq.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "ChildProcess.hpp"
#include "Harness.hpp"
#include "KelnoTransport.hpp"
#include "Scenarios.hpp"

namespace {

using namespace kelno_bench;

Programs programs_of_this_build() {
    return Programs{KELNO_BENCH_KELNOD, KELNO_BENCH_LIMIT_RELAY, KELNO_BENCH_FLOOR,
                    KELNO_BENCH_MOSQUITTO};
}

Shipped shipped_files() {
    return Shipped{{KELNO_BENCH_KELNOD, KELNO_BENCH_PROMPT, KELNO_BENCH_MIRROR, KELNO_BENCH_TESTER},
                   {KELNO_BENCH_LIB_UTIL, KELNO_BENCH_LIB_SOCKETS, KELNO_BENCH_LIB_MESSAGING}};
}

// The same files in another build tree of this project (a cross build): the
// targets' places mirror the source folders; a library by its real file name.
Shipped shipped_files_in(const std::string& build_dir) {
    const auto real = [&](const std::string& path) {
        return std::filesystem::canonical(build_dir + "/" + path).string();
    };
    return Shipped{{real("daemon/kelnod"), real("tools/prompt/kelno_prompt"),
                    real("tools/mirror_json/kelno_mirror_json"),
                    real("tools/json_tester/kelno_json_tester")},
                   {real("util/libkelno_util.so"), real("zmq/libzmq_catapult.so"),
                    real("messaging/libkelno_messenging.so")}};
}

std::string first_line_of(const std::string& path, const std::string& prefix) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(prefix, 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

void print_machine(std::ostream& out) {
    utsname system{};
    uname(&system);
    int major = 0, minor = 0, patch = 0;
    zmq_version(&major, &minor, &patch);
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    out << "Run " << date << " on " << std::thread::hardware_concurrency() << " cores, "
        << first_line_of("/proc/cpuinfo", "model name") << ", Linux " << system.release
        << ", libzmq " << major << "." << minor << "." << patch << ", "
        << KELNO_BENCH_MOSQUITTO_VERSION << ".\n\n";
}

int count_run(const Programs& programs, std::uint64_t count, std::uint64_t window) {
    TempDir scratch;
    Node node = start_kelnod(programs, scratch, "bench-count");
    Progress progress;
    KelnoTransport transport(progress, node.input_port, node.input_port, node.output_port, {});
    await_first_delivery(transport, progress, 64);
    const std::uint64_t delivered_before = progress.deliveries();
    send_acknowledged(transport, progress, 64, count, window);
    if (!progress.waitFor([&] { return progress.deliveries() - delivered_before >= count; },
                          std::chrono::seconds(30))) {
        std::cerr << "kelno_bench: not every message was delivered" << std::endl;
        return 1;
    }
    std::cout << "sent and delivered " << count << " messages\n";
    return 0;
}

std::set<std::string> parse_only(const std::string& list) {
    std::set<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        names.insert(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    std::set<std::string> only{"S1", "S2", "S3", "S4", "S5", "S6"};
    Programs programs = programs_of_this_build();
    std::uint64_t fixed_count = 0;
    std::optional<std::string> armhf_build;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            // A smoke run of a few seconds: the figures mean little.
            settings.warmup = std::chrono::milliseconds(200);
            settings.duration = std::chrono::milliseconds(500);
            settings.latency_messages = 200;
            settings.store_levels = {0, 2000};
            settings.idle_time = std::chrono::seconds(1);
            settings.drain_backlog = 1000;
            settings.drain_bound = std::chrono::seconds(10);
            settings.plain_drain_backlog = 2;
            settings.plain_drain_bound = std::chrono::seconds(5);
        } else if (arg == "--only" && i + 1 < argc) {
            only = parse_only(argv[++i]);
        } else if (arg == "--count" && i + 1 < argc) {
            fixed_count = std::stoull(argv[++i]);
        } else if (arg == "--kelnod" && i + 1 < argc) {
            programs.kelnod = argv[++i];
        } else if (arg == "--armhf-build" && i + 1 < argc) {
            armhf_build = argv[++i];
        } else {
            std::cerr << "usage: " << argv[0]
                      << " [--quick] [--only S1,S1S,S2,S3,S4,S5,S6] [--count N] [--kelnod PROGRAM]"
                         " [--armhf-build DIR]\n";
            return 2;
        }
    }

    kelno_test::kill_children_on_interrupt();
    if (fixed_count > 0) {
        try {
            return count_run(programs, fixed_count,
                             100);  // a subscriber under a profiler must keep up
        } catch (const std::exception& error) {
            std::cerr << "kelno_bench: " << error.what() << std::endl;
            return 1;
        }
    }
    std::vector<Row> rows;
    try {
        const auto add = [&rows](std::vector<Row> more) {
            rows.insert(rows.end(), more.begin(), more.end());
        };
        if (only.count("S1") || only.count("S2")) {
            std::cerr << "S1/S2: live path and latency" << std::endl;
            add(live_path_and_latency(programs, settings));
        }
        if (only.count("S1S")) {
            std::cerr << "S1S: live path with statistics on and off" << std::endl;
            add(live_path_statistics(programs, settings));
        }
        if (only.count("S3")) {
            std::cerr << "S3: store scaling" << std::endl;
            add(store_scaling(programs, settings));
        }
        if (only.count("S4")) {
            std::cerr << "S4: chain of three nodes" << std::endl;
            add(chain(programs, settings));
        }
        if (only.count("S5")) {
            std::cerr << "S5: footprint (" << settings.idle_time.count() << " s idle)" << std::endl;
            add(footprint(programs, settings, shipped_files(),
                          armhf_build ? std::optional<Shipped>(shipped_files_in(*armhf_build))
                                      : std::nullopt));
        }
        if (only.count("S6")) {
            std::cerr << "S6: downlink drain of a kept backlog" << std::endl;
            add(downlink_drain(programs, settings));
        }
    } catch (const std::exception& error) {
        std::cerr << "kelno_bench: " << error.what() << std::endl;
        return 1;
    }
    print_machine(std::cout);
    print_markdown(std::cout, rows);
    return 0;
}
