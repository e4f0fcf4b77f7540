#include "ChaosRun.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <kelnom/Client.hpp>

#include "DaemonProcess.hpp"
#include "TempDir.hpp"

namespace kelno_chaos {

namespace {

using namespace std::chrono_literals;
using kelno_test::DaemonOptions;
using kelno_test::DaemonProcess;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// The chain, upstream first: top ← mid ← {left, right}.
constexpr int kTop = 0;
constexpr int kMid = 1;
constexpr int kNodes = 4;
const std::array<const char*, kNodes> kNames = {"top", "mid", "left", "right"};
const std::array<int, kNodes> kUpstream = {-1, kTop, kMid, kMid};
constexpr int kUnrouted = -1;

const std::string kSenderPrefix = "chaos.";  // app id of a sender: "chaos.<node>"
const std::string kStatsTopic = "kelno.stats";
constexpr int kShown = 5;  // failed ids shown per kind

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Lines from several threads, each stamped with the time since the start.
class Log {
public:
    Log(std::ostream& out) : out(out), start(Clock::now()) {}
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        std::ostringstream stamp;
        stamp.setf(std::ios::fixed);
        stamp.precision(1);
        stamp << "[" << seconds_since(start) << " s] ";
        out << stamp.str() << text << std::endl;
    }
    void plain(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        out << text << std::endl;
    }

private:
    std::ostream& out;
    std::mutex mutex;
    Clock::time_point start;
};

struct Sent {
    int from;
    int target;  // the addressed node, or kUnrouted
};

int destination(const Sent& sent) { return sent.target == kUnrouted ? kTop : sent.target; }

// What was sent, acknowledged and published, by message id. Deliveries count
// on every node; only those on a message's destination are judged.
class Ledger {
public:
    void noteSent(const std::string& id, Sent sent) {
        std::lock_guard<std::mutex> lock(mutex);
        messages.emplace(id, sent);
    }

    void noteAck(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!acked.insert(id).second) return;
        const auto found = messages.find(id);
        if (found != messages.end() && seen[destination(found->second)].count(id) == 0) {
            ++acked_not_arrived;
        }
        changed.notify_all();
    }

    void noteDelivery(int node, const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex);
        const int copies = ++seen[node][id];
        const auto found = messages.find(id);
        if (found == messages.end()) {
            ++unknown;
            return;
        }
        if (copies == 1 && destination(found->second) == node && acked.count(id) > 0) {
            --acked_not_arrived;
        }
        changed.notify_all();
    }

    // True once every acknowledged message has arrived on its node, or false
    // at the deadline.
    bool waitAllArrived(Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return acked_not_arrived == 0; });
    }

    long sentCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<long>(messages.size());
    }
    long ackedCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<long>(acked.size());
    }
    long pendingCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return acked_not_arrived;
    }

    // The judgement at the end, with the figures of the summary.
    struct Verdict {
        long sent = 0, acknowledged = 0, delivered = 0, delivered_unacknowledged = 0;
        long republished = 0;  // passed-by nodes that published a message twice
        long unknown = 0;
        struct Failed {
            std::string id;
            std::string description;
        };
        std::vector<Failed> missing, duplicated;
    };

    Verdict judge() {
        std::lock_guard<std::mutex> lock(mutex);
        Verdict verdict;
        verdict.sent = static_cast<long>(messages.size());
        verdict.acknowledged = static_cast<long>(acked.size());
        verdict.unknown = unknown;
        for (const auto& [id, sent] : messages) {
            const int node = destination(sent);
            const auto copies_at = seen[node].find(id);
            const int copies = copies_at == seen[node].end() ? 0 : copies_at->second;
            const bool was_acked = acked.count(id) > 0;
            if (copies > 0) {
                ++verdict.delivered;
                if (!was_acked) ++verdict.delivered_unacknowledged;
            }
            if (copies == 0 && was_acked) {
                verdict.missing.push_back({id, describe(id, sent, copies)});
            }
            if (copies > 1) verdict.duplicated.push_back({id, describe(id, sent, copies)});
        }
        for (int node = 0; node < kNodes; ++node) {
            for (const auto& [id, copies] : seen[node]) {
                const auto found = messages.find(id);
                if (copies > 1 && found != messages.end() && destination(found->second) != node) {
                    ++verdict.republished;
                }
            }
        }
        return verdict;
    }

private:
    // Caller holds the lock.
    std::string describe(const std::string& id, const Sent& sent, int copies) {
        std::string text = id + " from " + kNames[sent.from] + " " +
                           (sent.target == kUnrouted ? std::string("unrouted")
                                                     : std::string("to ") + kNames[sent.target]) +
                           (acked.count(id) > 0 ? ", acknowledged" : ", not acknowledged") +
                           ", arrived " + std::to_string(copies) + " times; published on";
        for (int node = 0; node < kNodes; ++node) {
            const auto found = seen[node].find(id);
            if (found != seen[node].end()) {
                text += std::string(" ") + kNames[node] + " x" + std::to_string(found->second);
            }
        }
        return text;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::unordered_map<std::string, Sent> messages;
    std::unordered_set<std::string> acked;
    std::array<std::unordered_map<std::string, int>, kNodes> seen;
    long acked_not_arrived = 0;
    long unknown = 0;
};

// The statistics documents of the nodes as they come.
class StatsBoard {
public:
    void note(int node, json document) {
        std::lock_guard<std::mutex> lock(mutex);
        latest[node] = std::move(document);
        ++count[node];
        changed.notify_all();
    }
    long documents(int node) {
        std::lock_guard<std::mutex> lock(mutex);
        return count[node];
    }
    // The first document of `node` after the first `after` documents that
    // satisfies `done`; the last one seen (or nothing) at the deadline.
    std::pair<bool, std::optional<json>> waitFor(int node, long after,
                                                 const std::function<bool(const json&)>& done,
                                                 Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex);
        long looked_at = after;
        while (true) {
            if (count[node] > looked_at) {
                looked_at = count[node];
                if (done(latest[node])) return {true, latest[node]};
            }
            if (changed.wait_until(lock, deadline) == std::cv_status::timeout &&
                count[node] == looked_at) {
                if (looked_at > after) return {false, latest[node]};
                return {false, std::nullopt};
            }
        }
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::array<json, kNodes> latest;
    std::array<long, kNodes> count{};
};

// blockThreadForIO on a thread of its own, called again after each error
// (while its node is away a client's writes fail) until stop().
class ClientLoop {
public:
    explicit ClientLoop(kelnom::Client& client) : client(client) {
        thread = std::thread([this] { run(); });
    }
    ~ClientLoop() { stop(); }
    ClientLoop(const ClientLoop&) = delete;
    ClientLoop& operator=(const ClientLoop&) = delete;

    void stop() {
        if (!thread.joinable()) return;
        stopping = true;
        // A terminate() that lands between two runs is forgotten by the next.
        while (!finished) {
            client.terminate();
            std::this_thread::sleep_for(20ms);
        }
        thread.join();
    }

    long errors() const { return error_count; }
    std::string firstError() {
        std::lock_guard<std::mutex> lock(mutex);
        return first_error;
    }

private:
    void run() {
        while (!stopping) {
            try {
                client.blockThreadForIO(
                    [this](kelnou::Exception& error) { note(error.generateMessage()); },
                    kelnom::Client::Milliseconds(100));
            } catch (const std::exception& error) {
                note(error.what());
            }
            // After an error: the node may be away, do not spin.
            if (!stopping) std::this_thread::sleep_for(50ms);
        }
        finished = true;
    }

    void note(const std::string& text) {
        ++error_count;
        std::lock_guard<std::mutex> lock(mutex);
        if (first_error.empty()) first_error = text;
    }

    kelnom::Client& client;
    std::atomic<bool> stopping{false};
    std::atomic<bool> finished{false};
    std::atomic<long> error_count{0};
    std::mutex mutex;
    std::string first_error;
    std::thread thread;
};

// A node's two clients: one sends, one notes every publication.
struct NodeClients {
    NodeClients(int node, const DaemonProcess& daemon, Ledger& ledger, StatsBoard& stats)
        : sender(kSenderPrefix + kNames[node], daemon.broadcasterPort(), daemon.channelerPort(),
                 {}),
          watcher(std::string("watch.") + kNames[node], daemon.broadcasterPort(),
                  daemon.channelerPort(), {kSenderPrefix, kStatsTopic}) {
        watcher.onMessage([node, &ledger, &stats](std::unique_ptr<kelnom::Message> message) {
            if (message->appId() == kStatsTopic) {
                const auto& payload = message->payload();
                json document = json::parse(payload.getBuffer(),
                                            payload.getBuffer() + payload.size(), nullptr, false);
                if (document.is_object()) stats.note(node, std::move(document));
                return;
            }
            ledger.noteDelivery(node, message->msgId());
        });
        sender_loop = std::make_unique<ClientLoop>(sender);
        watcher_loop = std::make_unique<ClientLoop>(watcher);
    }

    void stop() {
        sender_loop->stop();
        watcher_loop->stop();
    }

    kelnom::Client sender;
    kelnom::Client watcher;
    std::unique_ptr<ClientLoop> sender_loop;
    std::unique_ptr<ClientLoop> watcher_loop;
};

std::string node_config(const kelno_test::TempDir& stores, int node) {
    return "kelno.chain.reliable=true\n"
           "kelno.store.path=" +
           stores.path() + "/" + kNames[node] +
           ".db\n"
           "kelno.stats.interval=1\n"
           // The run judges the chain, not the subscribers' queue limit.
           "kelno.broadcaster.send_queue=100000\n";
}

// Round robin over the nodes and, per node, over the three others and no
// route, so every pair sees the same share.
void send_messages(std::array<std::unique_ptr<NodeClients>, kNodes>& clients, Ledger& ledger,
                   int rate, const std::atomic<bool>& stop) {
    const auto spacing = std::chrono::duration_cast<Clock::duration>(1s) / rate;
    auto next = Clock::now();
    for (long count = 0; !stop; ++count) {
        const int from = static_cast<int>(count % kNodes);
        const int choice = static_cast<int>(count / kNodes % kNodes);
        int target = kUnrouted;
        if (choice < kNodes - 1) target = choice < from ? choice : choice + 1;
        std::vector<std::string> routes;
        if (target != kUnrouted) routes.push_back(kNames[target]);

        const std::string text = std::string(kNames[from]) + " #" + std::to_string(count);
        char* buffer = new char[text.size()];
        std::memcpy(buffer, text.data(), text.size());
        kelnom::Message message(
            kelnom::Payload(buffer, static_cast<std::uint32_t>(text.size()), "text"),
            kelnom::Message::Config(kSenderPrefix + kNames[from], std::move(routes),
                                    kelnom::Message::Seconds(3600), kelnom::Message::AckMode::Ack));
        const std::string id = message.msgId();
        ledger.noteSent(id, {from, target});
        clients[from]->sender.send(std::move(message), [&ledger, id] { ledger.noteAck(id); });

        next += spacing;
        std::this_thread::sleep_until(next);
    }
}

struct EventCounts {
    int kills = 0;
    int stops = 0;
    // What the killed mid processes wrote, for the traces of failed ids.
    std::string killed_output;
};

// Kills (and restarts) or stops (and continues) mid at random moments: one
// event in each equal slot of the run, with time after it for the chain to
// recover. Throws when mid does not come back.
EventCounts disturb_mid(DaemonProcess& mid, const ChaosOptions& options, std::mt19937_64& random,
                        Log& log) {
    EventCounts counts;
    const auto start = Clock::now();
    const auto slot = options.events > 0 ? options.duration / options.events : options.duration;
    auto last_end = start;
    for (int event = 0; event < options.events; ++event) {
        // An event takes up to about 7 s (a 5 s stop, or a kill, a pause and a
        // restart); it starts at a random moment of its slot that leaves room
        // for that, and never less than 2 s after the one before.
        const auto room = std::max<std::chrono::milliseconds>(slot - 8s, 0ms);
        const auto offset =
            std::chrono::milliseconds(std::uniform_int_distribution<long>(0, room.count())(random));
        std::this_thread::sleep_until(std::max(last_end + 2s, start + slot * event + 1s + offset));

        bool kill = std::bernoulli_distribution(0.5)(random);
        // Both kinds happen in every run of two events or more.
        if (event == options.events - 1 && options.events >= 2) {
            if (counts.kills == 0) kill = true;
            if (counts.stops == 0) kill = false;
        }
        if (kill) {
            const auto down =
                std::chrono::milliseconds(std::uniform_int_distribution<long>(0, 2000)(random));
            log.line("event " + std::to_string(event + 1) + ": SIGKILL mid, restart after " +
                     std::to_string(down.count()) + " ms");
            mid.kill();
            counts.killed_output += mid.process().out() + mid.process().err();
            std::this_thread::sleep_for(down);
            const auto restarting = Clock::now();
            mid.restart();
            std::ostringstream took;
            took.precision(2);
            took << seconds_since(restarting);
            log.line("mid answers again, " + took.str() + " s after its start");
            ++counts.kills;
        } else {
            const auto stopped =
                std::chrono::milliseconds(std::uniform_int_distribution<long>(1000, 5000)(random));
            log.line("event " + std::to_string(event + 1) + ": SIGSTOP mid for " +
                     std::to_string(stopped.count()) + " ms");
            const kelno_test::Paused paused(mid.process());
            std::this_thread::sleep_for(stopped);
            ++counts.stops;
        }
        last_end = Clock::now();
    }
    return counts;
}

bool upstream_clear(const json& document) {
    if (!document.contains("upstream") || document["upstream"].is_null()) return true;
    const json& upstream = document["upstream"];
    return upstream.contains("unacknowledged") && upstream["unacknowledged"] == 0;
}

std::string stats_figures(const std::optional<json>& document) {
    if (!document) return "no statistics document came";
    std::string text = "messages_stored " + document->value("messages_stored", json()).dump();
    if (document->contains("upstream") && (*document)["upstream"].is_object()) {
        text += ", upstream.unacknowledged " +
                (*document)["upstream"].value("unacknowledged", json()).dump();
    }
    if (document->contains("drops")) text += ", drops " + (*document)["drops"].dump();
    return text;
}

// The lines of a node's output that name `id` (a node names the ids it hands
// to an inbox poll), at most a few.
std::vector<std::string> lines_naming(const std::string& output, const std::string& id) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line) && lines.size() < 10;) {
        if (line.find(id) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

}  // namespace

bool run_chaos(const ChaosOptions& options, std::ostream& out) {
    Log log(out);
    const std::uint64_t seed =
        options.seed != 0 ? options.seed
                          : static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
    std::mt19937_64 random(seed);
    log.line("chaos run: " + std::to_string(options.duration.count()) + " s, " +
             std::to_string(options.events) + " events on mid, " + std::to_string(options.rate) +
             " messages per second, seed " + std::to_string(seed));

    bool ok = true;
    auto fail = [&](const std::string& why) {
        log.plain("FAILED: " + why);
        ok = false;
    };

    kelno_test::TempDir stores;
    std::array<std::unique_ptr<DaemonProcess>, kNodes> nodes;
    for (int node = 0; node < kNodes; ++node) {
        std::optional<std::string> upstream;
        if (kUpstream[node] >= 0) upstream = nodes[kUpstream[node]]->channelerEndpoint();
        nodes[node] = std::make_unique<DaemonProcess>(
            DaemonOptions{kNames[node], upstream, 1, node_config(stores, node)});
    }
    Ledger ledger;
    StatsBoard stats;
    std::array<std::unique_ptr<NodeClients>, kNodes> clients;
    for (int node = 0; node < kNodes; ++node) {
        clients[node] = std::make_unique<NodeClients>(node, *nodes[node], ledger, stats);
    }
    // A statistics document on every node: its watcher's subscription is live.
    for (int node = 0; node < kNodes; ++node) {
        const auto any = [](const json&) { return true; };
        if (!stats.waitFor(node, 0, any, Clock::now() + 30s).first) {
            fail(std::string("no statistics document from ") + kNames[node] +
                 " within 30 s; it reported:\n" + nodes[node]->process().err());
            return false;
        }
    }

    std::atomic<bool> stop_sending{false};
    std::thread sender([&] { send_messages(clients, ledger, options.rate, stop_sending); });
    EventCounts events;
    std::string event_error;
    std::thread disturber([&] {
        try {
            events = disturb_mid(*nodes[kMid], options, random, log);
        } catch (const std::exception& error) {
            event_error = error.what();
        }
    });

    // Progress every 10 s until the time is up; sending goes on until the last
    // event is over too.
    const auto started = Clock::now();
    for (auto report = started + 10s; report <= started + options.duration; report += 10s) {
        std::this_thread::sleep_until(report);
        log.line("sent " + std::to_string(ledger.sentCount()) + ", acknowledged " +
                 std::to_string(ledger.ackedCount()) + ", acknowledged and not yet arrived " +
                 std::to_string(ledger.pendingCount()));
    }
    std::this_thread::sleep_until(started + options.duration);
    disturber.join();
    stop_sending = true;
    sender.join();
    log.line("sending stopped: sent " + std::to_string(ledger.sentCount()) + ", acknowledged " +
             std::to_string(ledger.ackedCount()));
    if (!event_error.empty()) fail("mid did not come back: " + event_error);

    // Late acknowledgements still come in for a moment; each one counts.
    const auto settle_deadline = Clock::now() + options.settle_wait;
    bool arrived = false;
    do {
        arrived = ledger.waitAllArrived(settle_deadline);
        if (arrived) std::this_thread::sleep_for(1s);  // acknowledgements still on their way
    } while (arrived && ledger.pendingCount() > 0 && Clock::now() < settle_deadline);
    arrived = ledger.pendingCount() == 0;
    log.line(arrived ? "every acknowledged message has arrived"
                     : std::to_string(ledger.pendingCount()) +
                           " acknowledged messages still missing after " +
                           std::to_string(options.settle_wait.count()) + " s");

    // Stores and outboxes must empty everywhere: every node but top polls,
    // and a reliable node keeps nothing addressed to itself (publishing it was
    // its delivery). Only documents built from now on count.
    std::array<long, kNodes> documents_now{};
    for (int node = 0; node < kNodes; ++node) documents_now[node] = stats.documents(node) + 1;
    const auto stats_deadline = Clock::now() + options.settle_wait;
    std::array<std::optional<json>, kNodes> final_stats;
    for (int node = 0; node < kNodes; ++node) {
        auto [clear, document] = stats.waitFor(
            node, documents_now[node],
            [](const json& d) { return d.value("messages_stored", -1L) == 0 && upstream_clear(d); },
            stats_deadline);
        final_stats[node] = document;
        if (!clear) {
            fail(std::string(kNames[node]) +
                 " still keeps messages or waits for acknowledgements; its last document: " +
                 stats_figures(document));
        }
    }
    // Resends come after 5 s: a duplicate still on its way shows by then.
    std::this_thread::sleep_for(6s);

    const Ledger::Verdict verdict = ledger.judge();
    for (auto& node_clients : clients) node_clients->stop();

    log.plain(
        "sent " + std::to_string(verdict.sent) + ", acknowledged " +
        std::to_string(verdict.acknowledged) + ", delivered " + std::to_string(verdict.delivered) +
        " (" + std::to_string(verdict.delivered_unacknowledged) +
        " of them without acknowledgement), missing " + std::to_string(verdict.missing.size()) +
        ", duplicates " + std::to_string(verdict.duplicated.size()) + ", events " +
        std::to_string(events.kills + events.stops) + " (" + std::to_string(events.kills) +
        " SIGKILL and restart, " + std::to_string(events.stops) + " SIGSTOP and SIGCONT)");
    for (int node = 0; node < kNodes; ++node) {
        log.plain(std::string("  ") + kNames[node] + ": " + stats_figures(final_stats[node]) +
                  "; client errors " + std::to_string(clients[node]->sender_loop->errors()) +
                  " (sender), " + std::to_string(clients[node]->watcher_loop->errors()) +
                  " (watcher)");
    }
    log.plain("  published twice on a node they passed: " + std::to_string(verdict.republished) +
              "; deliveries of unknown ids: " + std::to_string(verdict.unknown));

    if (verdict.acknowledged == 0) fail("no message was acknowledged");
    if (events.kills + events.stops < options.events) {
        fail(std::to_string(events.kills + events.stops) + " events of " +
             std::to_string(options.events));
    }
    auto show = [&](const std::vector<Ledger::Verdict::Failed>& failed) {
        for (std::size_t i = 0; i < failed.size() && i < kShown; ++i) {
            log.plain("  " + failed[i].description);
            for (int node = 0; node < kNodes; ++node) {
                std::string output = nodes[node]->process().out() + nodes[node]->process().err();
                if (node == kMid) output = events.killed_output + output;
                for (const auto& line : lines_naming(output, failed[i].id)) {
                    log.plain(std::string("    ") + kNames[node] + ": " + line);
                }
            }
        }
    };
    if (!verdict.missing.empty()) {
        fail(std::to_string(verdict.missing.size()) + " acknowledged messages never arrived:");
        show(verdict.missing);
    }
    if (!verdict.duplicated.empty()) {
        fail(std::to_string(verdict.duplicated.size()) + " messages arrived more than once:");
        show(verdict.duplicated);
    }
    for (int node = 0; node < kNodes; ++node) {
        if (!nodes[node]->process().running()) {
            fail(std::string("node ") + kNames[node] + " ended on its own (status " +
                 std::to_string(nodes[node]->process().waitExit(0ms).value_or(-1)) +
                 "): " + nodes[node]->process().err());
        }
    }
    for (int node = kNodes - 1; node >= 0; --node) {
        auto& process = nodes[node]->process();
        if (!process.running()) continue;
        const auto status = nodes[node]->stop();
        if (status != 0 || !process.waitForOut("Done\n", 0ms)) {
            fail(std::string("node ") + kNames[node] + " did not stop in order (status " +
                 std::to_string(status.value_or(-1)) + "): " + process.err());
        }
    }
    log.plain(ok ? "chaos passed" : "chaos failed");
    return ok;
}

}  // namespace kelno_chaos
