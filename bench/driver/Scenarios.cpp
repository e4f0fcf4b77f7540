#include "Scenarios.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>

#include "Harness.hpp"
#include "KelnoTransport.hpp"
#include "LimitTransport.hpp"
#include "MosquittoTransport.hpp"
#include "ProcessUsage.hpp"

namespace kelno_bench {

namespace {

enum class System { Kelno, Limit, Mosquitto };
constexpr System all_systems[] = {System::Kelno, System::Limit, System::Mosquitto};

// Size of a file in bytes, or -1 when it cannot be read.
long long file_size(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<long long>(size);
}

const char* system_name(System system) {
    switch (system) {
        case System::Kelno:
            return "Kelno";
        case System::Limit:
            return "limit";
        case System::Mosquitto:
            return "Mosquitto";
    }
    return "";
}

// One figure per system, missing where the system could not be measured.
struct Figures {
    std::optional<double> kelno, limit, mosquitto;
    std::optional<double>& operator[](System system) {
        return system == System::Kelno ? kelno : system == System::Limit ? limit : mosquitto;
    }
};

Row make_row(std::string scenario, std::string measure, Unit unit, const Figures& figures,
             std::string note = "") {
    return Row{std::move(scenario), std::move(measure), unit,           figures.kelno,
               figures.limit,       figures.mosquitto,  std::move(note)};
}

std::string size_label(std::size_t size) {
    return size >= 1024 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " B";
}

void progress_line(const std::string& text) { std::cerr << "  " << text << std::endl; }

// A note naming the systems that lost messages, if any did.
std::string loss_note(const std::vector<std::pair<System, ThroughputResult>>& results) {
    std::string note;
    for (const auto& [system, result] : results) {
        if (result.lossPercent() < 0.05) continue;  // what "%.1f" would show as 0.0
        char text[96];
        std::snprintf(text, sizeof text, "%s%s lost %.1f %%", note.empty() ? "" : "; ",
                      system_name(system), result.lossPercent());
        note += text;
    }
    return note;
}

// A transport for `system` whose sender talks to `bottom` and whose
// subscriber listens on `top` (the same node outside a chain).
std::unique_ptr<Transport> connect(System system, Progress& progress, const Node& bottom,
                                   const Node& top, const Settings& settings,
                                   KelnoTransport::Options kelno_options = {}) {
    switch (system) {
        case System::Kelno:
            return std::make_unique<KelnoTransport>(progress, bottom.input_port, top.input_port,
                                                    top.output_port, std::move(kelno_options));
        case System::Limit:
            return std::make_unique<LimitTransport>(progress, bottom.input_port, top.output_port);
        case System::Mosquitto:
            return std::make_unique<MosquittoTransport>(progress, bottom.input_port,
                                                        top.output_port,
                                                        static_cast<unsigned>(settings.window));
    }
    return nullptr;
}

// A chain of `length` nodes of `system`, the top one first.
std::vector<Node> start_nodes(System system, const Programs& programs, const TempDir& scratch,
                              int length) {
    std::vector<Node> nodes;
    for (int level = 0; level < length; ++level) {
        std::optional<int> upstream;
        if (!nodes.empty()) upstream = nodes.back().input_port;
        const std::string name = "bench-node" + std::to_string(level);
        switch (system) {
            case System::Kelno:
                nodes.push_back(start_kelnod(programs, scratch, name, upstream));
                break;
            case System::Limit:
                nodes.push_back(start_limit_relay(programs, upstream));
                break;
            case System::Mosquitto:
                nodes.push_back(start_mosquitto(programs, scratch, name, upstream));
                break;
        }
    }
    return nodes;
}

// A chain of `length` kelnod nodes, the top one first, each linked to the one
// above through its secure port over CURVE.
std::vector<Node> start_curve_chain(const Programs& programs, const TempDir& scratch,
                                    int length) {
    std::vector<CurveKeys> keys;
    for (int level = 0; level < length; ++level) keys.push_back(curve_key_pair());
    std::vector<Node> nodes;
    for (int level = 0; level < length; ++level) {
        KelnodCurve curve{keys[level], std::nullopt, std::nullopt};
        if (level + 1 < length) curve.below = keys[level + 1].public_key;
        std::optional<int> upstream;
        if (level > 0) {
            curve.above = keys[level - 1].public_key;
            upstream = nodes.back().secure_port;
        }
        nodes.push_back(start_kelnod(programs, scratch, "bench-node" + std::to_string(level),
                                     upstream, "", &curve));
    }
    return nodes;
}

// Runs `measure` for each system; a system that fails is reported and left
// without figures, so one broken baseline does not cost the whole table.
void for_each_system(const std::function<void(System)>& measure) {
    for (System system : all_systems) {
        try {
            measure(system);
        } catch (const std::exception& error) {
            std::cerr << "  " << system_name(system) << " failed: " << error.what() << std::endl;
        }
    }
}

// Throughput at every payload size of the settings, added to `by_size`.
void measure_each_size(const char* scenario, System system, Transport& transport,
                       Progress& progress, const Settings& settings,
                       std::vector<std::vector<std::pair<System, ThroughputResult>>>& by_size) {
    for (std::size_t i = 0; i < settings.payload_sizes.size(); ++i) {
        const ThroughputResult result =
            measure_throughput(transport, progress, settings.payload_sizes[i], settings.window,
                               settings.warmup, settings.duration);
        progress_line(std::string(scenario) + " " + system_name(system) + " " +
                      size_label(settings.payload_sizes[i]) + ": " +
                      std::to_string(static_cast<long long>(result.delivered_per_second)) +
                      " msg/s");
        by_size[i].emplace_back(system, result);
    }
}

std::vector<Row> throughput_rows(
    const std::string& scenario, const Settings& settings,
    const std::vector<std::vector<std::pair<System, ThroughputResult>>>& by_size) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < settings.payload_sizes.size(); ++i) {
        Figures figures;
        for (const auto& [system, result] : by_size[i])
            figures[system] = result.delivered_per_second;
        rows.push_back(make_row(scenario, "delivered, " + size_label(settings.payload_sizes[i]),
                                Unit::PerSecond, figures, loss_note(by_size[i])));
    }
    return rows;
}

}  // namespace

std::vector<Row> live_path_and_latency(const Programs& programs, const Settings& settings) {
    std::vector<std::vector<std::pair<System, ThroughputResult>>> by_size(
        settings.payload_sizes.size());
    Figures delivery[3], ack[3];  // p50, p99, max
    std::string latency_note;
    for_each_system([&](System system) {
        TempDir scratch;
        std::vector<Node> nodes = start_nodes(system, programs, scratch, 1);
        Progress progress;
        auto transport = connect(system, progress, nodes[0], nodes[0], settings);
        measure_each_size("S1", system, *transport, progress, settings, by_size);
        const LatencyResult latency = measure_latency(
            *transport, progress, settings.latency_payload, settings.latency_messages);
        const Percentiles to_delivery = percentiles(latency.to_delivery_us);
        const Percentiles to_ack = percentiles(latency.to_ack_us);
        delivery[0][system] = to_delivery.p50;
        delivery[1][system] = to_delivery.p99;
        delivery[2][system] = to_delivery.max;
        ack[0][system] = to_ack.p50;
        ack[1][system] = to_ack.p99;
        ack[2][system] = to_ack.max;
        if (latency.lost > 0) {
            latency_note += std::string(latency_note.empty() ? "" : "; ") + system_name(system) +
                            " lost " + std::to_string(latency.lost);
        }
        progress_line(std::string("S2 ") + system_name(system) + ": p50 " +
                      std::to_string(to_delivery.p50) + " µs");
    });

    std::vector<Row> rows = throughput_rows("S1 live path", settings, by_size);
    const std::string count =
        std::to_string(settings.latency_messages) + " × " + size_label(settings.latency_payload);
    const char* stats[] = {"p50", "p99", "max"};
    for (int i = 0; i < 3; ++i) {
        rows.push_back(make_row("S2 latency", std::string("send → delivery, ") + stats[i],
                                Unit::Microseconds, delivery[i],
                                i == 0 ? count + latency_note : ""));
    }
    for (int i = 0; i < 3; ++i) {
        rows.push_back(make_row("S2 latency", std::string("send → ack, ") + stats[i],
                                Unit::Microseconds, ack[i], ""));
    }
    return rows;
}

std::vector<Row> live_path_statistics(const Programs& programs, const Settings& settings) {
    // Two nodes, measured in turn at every size, so that a machine whose load
    // drifts during the run does not pass for the statistics' cost.
    constexpr int rounds = 3;
    TempDir scratch;
    Node off_node = start_kelnod(programs, scratch, "bench-stats-off");
    Node on_node =
        start_kelnod(programs, scratch, "bench-stats-on", std::nullopt, "kelno.stats.interval=1\n");
    Progress off_progress, on_progress;
    KelnoTransport off(off_progress, off_node.input_port, off_node.input_port, off_node.output_port,
                       {});
    KelnoTransport on(on_progress, on_node.input_port, on_node.input_port, on_node.output_port, {});

    std::vector<Row> rows;
    for (std::size_t size : settings.payload_sizes) {
        double off_sum = 0, on_sum = 0;
        for (int round = 0; round < rounds; ++round) {
            off_sum += measure_throughput(off, off_progress, size, settings.window, settings.warmup,
                                          settings.duration)
                           .delivered_per_second;
            on_sum += measure_throughput(on, on_progress, size, settings.window, settings.warmup,
                                         settings.duration)
                          .delivered_per_second;
        }
        const double off_rate = off_sum / rounds, on_rate = on_sum / rounds;
        progress_line("S1 statistics " + size_label(size) + ": off " +
                      std::to_string(static_cast<long long>(off_rate)) + ", on " +
                      std::to_string(static_cast<long long>(on_rate)) + " msg/s");
        char note[96];
        std::snprintf(note, sizeof note, "on/off %.2f; mean of %d alternating runs each",
                      on_rate / off_rate, rounds);
        rows.push_back(make_row("S1 statistics", "delivered, " + size_label(size) + ", off",
                                Unit::PerSecond, Figures{off_rate, {}, {}}, ""));
        rows.push_back(make_row("S1 statistics", "delivered, " + size_label(size) + ", every 1 s",
                                Unit::PerSecond, Figures{on_rate, {}, {}}, note));
    }
    return rows;
}

namespace {

// S3 for one kind of store: `store_file` names the store file, empty for the
// memory store alone.
std::vector<Row> store_scaling_with(const Programs& programs, const Settings& settings,
                                    const std::string& kind, bool store_file) {
    // Two nodes: one whose store stays empty and one that is filled. The
    // empty one is measured just before and after each full one, so a machine
    // whose load drifts during the run does not pass for the store's cost.
    TempDir scratch;
    const auto store_path = [&](const std::string& name) {
        return scratch.path() + "/" + name + ".db";
    };
    const auto store_config = [&](const std::string& name) {
        return store_file ? "kelno.store.path=" + store_path(name) + "\n" : "";
    };
    Node empty_node = start_kelnod(programs, scratch, "bench-store-empty", std::nullopt,
                                   store_config("bench-store-empty"));
    Node full_node = start_kelnod(programs, scratch, "bench-store-full", std::nullopt,
                                  store_config("bench-store-full"));

    // Stored messages: routed to a node that never polls; the subscriber
    // acknowledges each one it receives, which removes it again.
    KelnoTransport::Options measured;
    measured.push_routes = {"bench-parked"};
    measured.acknowledge_deliveries = true;
    Progress empty_progress, full_progress;
    KelnoTransport empty(empty_progress, empty_node.input_port, empty_node.input_port,
                         empty_node.output_port, measured);
    KelnoTransport full(full_progress, full_node.input_port, full_node.input_port,
                        full_node.output_port, measured);

    KelnoTransport::Options filling;
    filling.app_id = "bench-filler";  // nobody subscribes to it
    filling.push_routes = measured.push_routes;
    filling.subscribe = false;
    Progress fill_progress;
    KelnoTransport filler(fill_progress, full_node.input_port, full_node.input_port,
                          full_node.output_port, filling);

    const auto measure = [&](Transport& transport, Progress& progress) {
        return measure_throughput(transport, progress, 64, settings.window, settings.warmup,
                                  settings.duration);
    };
    const std::string scenario = "S3 store, " + kind;
    std::vector<Row> rows;
    const auto add_row = [&](std::uint64_t level, const ThroughputResult& result,
                             std::string note) {
        if (result.lossPercent() >= 0.05) {
            char lost[48];
            std::snprintf(lost, sizeof lost, "; %.1f %% lost", result.lossPercent());
            note += lost;
        }
        rows.push_back(make_row(scenario, "acks, " + std::to_string(level) + " stored (64 B)",
                                Unit::PerSecond, Figures{result.delivered_per_second, {}, {}},
                                note));
        // One message at a time: what a sender waits for its receipt.
        const LatencyResult latency =
            measure_latency(full, full_progress, 64, settings.latency_messages / 4);
        const Percentiles to_ack = percentiles(latency.to_ack_us);
        rows.push_back(
            make_row(scenario, "send → ack p50, " + std::to_string(level) + " stored (64 B)",
                     Unit::Microseconds, Figures{to_ack.p50, {}, {}},
                     std::to_string(settings.latency_messages / 4) + " messages one at a time"));
        progress_line(scenario + " " + std::to_string(level) + " stored: " +
                      std::to_string(static_cast<long long>(result.delivered_per_second)) +
                      " acks/s, p50 " + std::to_string(to_ack.p50) + " µs");
    };

    std::uint64_t stored = 0;
    long resident_before = kelno_test::resident_kib(full_node.process->pid());
    for (std::uint64_t level : settings.store_levels) {
        if (level == 0) {
            add_row(0, measure(full, full_progress), "before it is filled");
            // Counted from here, the memory is the store's, not the warm-up's.
            resident_before = kelno_test::resident_kib(full_node.process->pid());
            continue;
        }
        send_acknowledged(filler, fill_progress, 64, level - stored, settings.window);
        stored = level;
        const double before = measure(empty, empty_progress).delivered_per_second;
        const ThroughputResult result = measure(full, full_progress);
        const double after = measure(empty, empty_progress).delivered_per_second;
        char note[128];
        std::snprintf(note, sizeof note,
                      "%.0f %% of the empty node's rate just before and after (%.0f, %.0f)",
                      200.0 * result.delivered_per_second / (before + after), before, after);
        add_row(level, result, note);
    }
    if (stored > 0) {
        const long resident_after = kelno_test::resident_kib(full_node.process->pid());
        const double per_message = 1024.0 * static_cast<double>(resident_after - resident_before) /
                                   static_cast<double>(stored);
        rows.push_back(make_row(scenario, "resident memory per stored 64 B message",
                                Unit::BytesPerMessage, Figures{per_message, {}, {}},
                                "VmRSS " + std::to_string(resident_before) + " → " +
                                    std::to_string(resident_after) + " KiB for " +
                                    std::to_string(stored) + " messages"));
        if (store_file) {
            const std::string file = store_path("bench-store-full");
            const long long bytes = file_size(file) + std::max(0LL, file_size(file + "-wal"));
            rows.push_back(
                make_row(scenario, "store file per stored 64 B message", Unit::BytesPerMessage,
                         Figures{static_cast<double>(bytes) / static_cast<double>(stored), {}, {}},
                         "file and its write-ahead log, " + std::to_string(bytes) + " bytes for " +
                             std::to_string(stored) + " messages"));
        }
    }
    return rows;
}

}  // namespace

std::vector<Row> store_scaling(const Programs& programs, const Settings& settings) {
    std::vector<Row> rows = store_scaling_with(programs, settings, "memory", false);
    for (Row& row : store_scaling_with(programs, settings, "file", true)) {
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<Row> chain(const Programs& programs, const Settings& settings) {
    std::vector<std::vector<std::pair<System, ThroughputResult>>> by_size(
        settings.payload_sizes.size());
    for_each_system([&](System system) {
        TempDir scratch;
        std::vector<Node> nodes = start_nodes(system, programs, scratch, 3);
        Progress progress;
        auto transport = connect(system, progress, nodes.back(), nodes.front(), settings);
        measure_each_size("S4", system, *transport, progress, settings, by_size);
    });
    std::vector<Row> rows = throughput_rows("S4 chain of 3", settings, by_size);

    // The same chain with every link over CURVE, in the same run, so that the
    // two are measured on the same machine under the same load.
    std::vector<std::vector<std::pair<System, ThroughputResult>>> by_size_curve(
        settings.payload_sizes.size());
    try {
        TempDir scratch;
        std::vector<Node> nodes = start_curve_chain(programs, scratch, 3);
        Progress progress;
        auto transport = connect(System::Kelno, progress, nodes.back(), nodes.front(), settings);
        measure_each_size("S4 CURVE", System::Kelno, *transport, progress, settings,
                          by_size_curve);
    } catch (const std::exception& error) {
        std::cerr << "  Kelno over CURVE failed: " << error.what() << std::endl;
        return rows;
    }
    for (std::size_t i = 0; i < settings.payload_sizes.size(); ++i) {
        const double curve = by_size_curve[i].front().second.delivered_per_second;
        std::string note = loss_note(by_size_curve[i]);
        for (const auto& [system, result] : by_size[i]) {
            if (system != System::Kelno || result.delivered_per_second <= 0) continue;
            char text[96];
            std::snprintf(text, sizeof text, "%s%.0f %% of plaintext Kelno's rate",
                          note.empty() ? "" : "; ", 100.0 * curve / result.delivered_per_second);
            note += text;
        }
        rows.push_back(make_row("S4 chain of 3 over CURVE",
                                "delivered, " + size_label(settings.payload_sizes[i]),
                                Unit::PerSecond, Figures{curve, {}, {}}, note));
    }
    return rows;
}

namespace {

// How a backlog kept on the upper node came down to the node below. Times
// are counted from the moment the link could come up.
struct DrainResult {
    std::uint64_t kept = 0;
    std::uint64_t delivered = 0;             // published below within the bound, copies included
    std::chrono::duration<double> first{0};  // the first delivery
    std::chrono::duration<double> last{0};   // the last one (the kept-th when all came)

    // The rate between the first and the last delivery: what the link-up and
    // the first poll's round trip cost is in `first`.
    double perSecond() const {
        const std::uint64_t counted = std::min(delivered, kept);
        if (counted < 2 || last <= first) return 0;
        return static_cast<double>(counted - 1) / (last - first).count();
    }
};

// `kept` 64-byte messages routed to the node below are sent to the upper
// node, each acknowledged, while there is no node below; then the node below
// starts (inbox interval 1 s) with a subscriber, and the messages are counted
// as they are published there. `node_config` goes into both nodes' files;
// with `store_files` each node keeps its store in a file of its own.
//
// The upper node is paused while the node below starts and its subscriber's
// subscription is confirmed, or the node below would fetch and publish the
// first messages before anyone listens. The clock starts when the upper node
// goes on: the moment the link between the two can come up.
DrainResult measure_drain(const Programs& programs, const Settings& settings,
                          const std::string& node_config, bool store_files, std::uint64_t kept,
                          std::chrono::seconds bound) {
    TempDir scratch;
    const auto config = [&](const std::string& name) {
        return node_config +
               (store_files ? "kelno.store.path=" + scratch.path() + "/" + name + ".db\n" : "");
    };
    const std::string lower_name = "bench-lower";
    Node upper =
        start_kelnod(programs, scratch, "bench-upper", std::nullopt, config("bench-upper"));
    {
        KelnoTransport::Options routed;
        routed.push_routes = {lower_name};
        routed.subscribe = false;
        Progress filled;
        KelnoTransport filler(filled, upper.input_port, upper.input_port, upper.output_port,
                              routed);
        send_acknowledged(filler, filled, 64, kept, settings.window);
    }

    std::optional<kelno_test::Paused> paused(std::in_place, *upper.process);
    Node lower = start_kelnod(programs, scratch, lower_name, upper.input_port,
                              "kelno.inbox_interval=1\n" + config(lower_name));
    Progress progress;
    KelnoTransport below(progress, lower.input_port, lower.input_port, lower.output_port, {});
    // Its own messages carry no route: published below at once, kept nowhere.
    await_first_delivery(below, progress, 64);
    const std::uint64_t before = progress.deliveries();
    const auto delivered = [&] { return progress.deliveries() - before; };

    paused.reset();
    const auto link_from = Clock::now();
    const auto deadline = link_from + bound;
    const auto left = [&] {
        return std::max(
            std::chrono::milliseconds(0),
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    };
    DrainResult result;
    result.kept = kept;
    if (!below.awaitProgress([&] { return delivered() > 0; }, left())) return result;
    result.first = progress.lastDelivery() - link_from;
    const bool all = below.awaitProgress([&] { return delivered() >= kept; }, left());
    result.last = progress.lastDelivery() - link_from;
    result.delivered = delivered();
    if (all) {
        // A message published twice below would show as one delivery too many.
        below.awaitProgress([] { return false; }, std::chrono::milliseconds(300));
        result.delivered = delivered();
    }
    return result;
}

std::string drain_note(const DrainResult& result, std::chrono::seconds bound) {
    const std::string kept = std::to_string(result.kept);
    if (result.delivered == 0) {
        return "none of " + kept + " within " + std::to_string(bound.count()) + " s";
    }
    char text[128];
    if (result.delivered >= result.kept) {
        std::snprintf(text, sizeof text, "all %s by %.2f s after the link up, the first at %.1f ms",
                      kept.c_str(), result.last.count(), 1000.0 * result.first.count());
    } else {
        std::snprintf(text, sizeof text,
                      "only %s of %s within %lld s, the first %.1f ms after the link up",
                      std::to_string(result.delivered).c_str(), kept.c_str(),
                      static_cast<long long>(bound.count()), 1000.0 * result.first.count());
    }
    std::string note = text;
    if (result.delivered > result.kept) {
        note += "; " + std::to_string(result.delivered - result.kept) + " published twice";
    }
    return note;
}

}  // namespace

std::vector<Row> downlink_drain(const Programs& programs, const Settings& settings) {
    struct Case {
        std::string kind;
        std::string node_config;
        bool store_files;
        std::uint64_t kept;
        std::chrono::seconds bound;
        std::string note;
    };
    const std::string reliable = "kelno.chain.reliable=true\n";
    const Case cases[] = {
        {"reliable, memory store", reliable, false, settings.drain_backlog, settings.drain_bound,
         ""},
        {"reliable, store files", reliable, true, settings.drain_backlog, settings.drain_bound,
         "kelno.store.path on both nodes; "},
        {"plain chain, memory store", "", false, settings.plain_drain_backlog,
         settings.plain_drain_bound, "without kelno.chain.reliable; "},
    };
    std::vector<Row> rows;
    for (const Case& c : cases) {
        const std::string measure =
            "delivered below, " + std::to_string(c.kept) + " kept (64 B), " + c.kind;
        try {
            const DrainResult result =
                measure_drain(programs, settings, c.node_config, c.store_files, c.kept, c.bound);
            const std::string note = c.note + drain_note(result, c.bound);
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.1f msg/s", result.perSecond());
            progress_line("S6 " + c.kind + ": " + rate + ", " + note);
            rows.push_back(make_row("S6 downlink drain", measure, Unit::PerSecond,
                                    Figures{result.perSecond(), {}, {}}, note));
        } catch (const std::exception& error) {
            std::cerr << "  S6 " << c.kind << " failed: " << error.what() << std::endl;
        }
    }
    return rows;
}

namespace {

double size_of_kelnod_and_libraries(const Shipped& shipped) {
    double sum = static_cast<double>(file_size(shipped.binaries.front()));
    for (const std::string& path : shipped.libraries) sum += static_cast<double>(file_size(path));
    return sum;
}

// One row per shipped file, then their total; `prefix` starts each measure.
void add_size_rows(std::vector<Row>& rows, const std::string& prefix, const Shipped& shipped) {
    double total = 0;
    for (const auto* list : {&shipped.binaries, &shipped.libraries}) {
        for (const std::string& path : *list) {
            const std::string name = path.substr(path.rfind('/') + 1);
            const auto size = static_cast<double>(file_size(path));
            total += size;
            rows.push_back(
                make_row("S5 footprint", prefix + name, Unit::Bytes, Figures{size, {}, {}}));
        }
    }
    rows.push_back(make_row("S5 footprint", prefix + "all shipped binaries and libraries",
                            Unit::Bytes, Figures{total, {}, {}}));
}

}  // namespace

std::vector<Row> footprint(const Programs& programs, const Settings& settings,
                           const Shipped& shipped, const std::optional<Shipped>& armhf) {
    TempDir scratch;
    Node kelnod = start_kelnod(programs, scratch, "bench-idle");
    Node floor = start_floor(programs);
    Node mosquitto = start_mosquitto(programs, scratch, "bench-idle");
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let start-up work finish

    ChildProcess* idle[] = {kelnod.process.get(), floor.process.get(), mosquitto.process.get()};
    std::chrono::milliseconds cpu_before[3];
    for (int i = 0; i < 3; ++i) cpu_before[i] = kelno_test::cpu_time(idle[i]->pid());
    std::this_thread::sleep_for(settings.idle_time);
    Figures resident, cpu;
    for (int i = 0; i < 3; ++i) {
        resident[all_systems[i]] = static_cast<double>(kelno_test::resident_kib(idle[i]->pid()));
        cpu[all_systems[i]] =
            static_cast<double>((kelno_test::cpu_time(idle[i]->pid()) - cpu_before[i]).count());
    }

    std::vector<Row> rows;
    rows.push_back(make_row("S5 footprint", "idle resident memory (VmRSS)", Unit::KiB, resident,
                            "limit column: the floor program"));
    rows.push_back(make_row(
        "S5 footprint", "CPU time over " + std::to_string(settings.idle_time.count()) + " s idle",
        Unit::Milliseconds, cpu, "limit column: the floor program"));
    const Figures kelnod_and_libraries{size_of_kelnod_and_libraries(shipped), {},
                                       static_cast<double>(file_size(programs.mosquitto))};
    rows.push_back(make_row("S5 footprint", "kelnod and its three libraries", Unit::Bytes,
                            kelnod_and_libraries, "Mosquitto: the broker binary"));
    add_size_rows(rows, "", shipped);
    if (armhf) {
        rows.push_back(make_row("S5 footprint", "armhf: kelnod and its three libraries",
                                Unit::Bytes,
                                Figures{size_of_kelnod_and_libraries(*armhf), {}, {}},
                                "32-bit ARM cross build"));
        add_size_rows(rows, "armhf: ", *armhf);
    }
    return rows;
}

}  // namespace kelno_bench
