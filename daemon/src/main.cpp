// kelnod: the node daemon. Serves local clients and downstream nodes on its
// channeler, publishes on its broadcaster, and passes messages up to at most
// one upstream node.
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <cplt/Context.hpp>
#include <cplt/Exception.hpp>
#include <cplt/InputSelector.hpp>
#include <kelnou/Exception.hpp>

#include "ChannelerHandler.hpp"
#include "Console.hpp"
#include "ForwarderHandler.hpp"
#include "HandlerGuard.hpp"
#include "KeyFile.hpp"
#include "MainLoop.hpp"
#include "NodeParts.hpp"
#include "StatsPublisher.hpp"

namespace {

// Requests served per socket and wake-up before the other sockets get a turn.
constexpr int kServedPerWakeUp = 256;

// Opens the sockets and serves until told to stop.
void serve(const kelnod::Settings& settings) {
    kelnod::NodeStats stats;
    kelnod::NodeSockets sockets(settings, stats);
    // After the sockets: a second node that cannot bind never touches the
    // first one's store file.
    kelnod::KeptMessages store(settings.store, kelnod::say, kelnod::report);
    const std::string store_line = store.startupLine();
    if (!store_line.empty()) kelnod::say(store_line);
    kelnod::HeldReceipts receipts(sockets, store.hasFile());
    kelnod::HeldPublications publications(sockets, stats, store,
                                          settings.chain.reliable && store.hasFile());
    std::optional<kelnod::ReliableChain> chain;
    if (settings.chain.reliable) {
        chain.emplace(settings, store, publications, kelnod::report);
        const std::string chain_line = chain->startupLine();
        if (!chain_line.empty()) kelnod::say(chain_line);
    }
    kelnod::NodeRegistry registry;
    kelnod::UpstreamInboxPoll upstream_poll(settings.node_name,
                                            std::chrono::seconds(settings.inbox_interval), sockets,
                                            settings.chain.reliable);
    kelnod::NodeParts node{settings, sockets,       store, registry,
                           receipts, publications,  upstream_poll, stats,
                           chain ? &*chain : nullptr};
    kelnod::StatsPublisher statistics(settings, stats, store, registry, sockets, node.chain);

    // The channeler comes first: within one wake-up, local requests are served
    // before what came down from upstream.
    std::vector<std::pair<cplt::Socket*, cplt::InputSelector::Handler>> entries;
    entries.emplace_back(&sockets.channeler.socket,
                         kelnod::serve_ready(
                             kelnod::guarded(kelnod::ChannelerHandler(node, sockets.channeler)),
                             kServedPerWakeUp));
    if (sockets.secure) {
        kelnod::SecurePort& secure = *sockets.secure;
        // The same handler as the channeler's, on the same store and registry.
        entries.emplace_back(&secure.port.socket,
                             kelnod::serve_ready(
                                 kelnod::guarded(kelnod::ChannelerHandler(node, secure.port)),
                                 kServedPerWakeUp));
        entries.emplace_back(&secure.zap.socket(),
                             kelnod::serve_ready(kelnod::guarded([&secure](cplt::Socket*) {
                                                     secure.zap.serveOne();
                                                 }),
                                                 kServedPerWakeUp));
        entries.emplace_back(&secure.monitor.socket(), kelnod::guarded([&secure](cplt::Socket*) {
                                 secure.readMonitor();
                             }));
    }
    if (sockets.channeler_monitor) {
        entries.emplace_back(
            &sockets.channeler_monitor->socket(),
            kelnod::guarded([&](cplt::Socket*) { sockets.reportClosedConnections(); }));
    }
    if (sockets.upstream) {
        entries.emplace_back(&sockets.upstream->forwarder,
                             kelnod::serve_ready(
                                 kelnod::guarded(kelnod::ForwarderHandler(node)),
                                 kServedPerWakeUp));
        entries.emplace_back(&sockets.upstream->monitor.socket(),
                             kelnod::guarded([&](cplt::Socket*) {
                                 if (!sockets.upstream->readLinkEvents()) return;
                                 upstream_poll.dueNow();
                                 if (chain) chain->outbox.allDue();
                             }));
    }
    cplt::InputSelector selector(std::move(entries));

    kelnod::run_until_terminated(selector, node, statistics);
    // Said before the sockets and the store go, so it is there even if closing hangs.
    kelnod::say("Done");
}

// A start-up step that a stop signal interrupted (the read of a settings
// script's output) fails; the signal, not the failure, is what happened.
int stopped_or_failed(const std::string& error_text) {
    if (cplt::Context::stopSignalReceived()) {
        kelnod::say("Done");
        return 0;
    }
    kelnod::report(error_text);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string generate_keys = "--generate-keys";
    if (argc >= 2 && argv[1] == generate_keys) {
        if (argc == 3) return kelnod::generate_key_file(argv[2]);
        kelnod::report("kelnod --generate-keys FILE: name the one file to write");
        return 1;
    }
    if (argc > 2) {
        kelnod::print_usage();
        return 1;
    }
    const std::string config_path = argc == 2 ? argv[1] : kelnod::default_config_path;

    try {
        // First of all, so that a signal during start-up (while a settings
        // script runs, say) is an order to stop like any other.
        cplt::Context::installSignalHandling();
        std::optional<kelnod::Settings> settings = kelnod::read_settings(config_path);
        if (!settings) return 1;
        kelnod::print_startup(*settings);
        serve(*settings);
    } catch (const cplt::ZmqTermination&) {
        // A signal during start-up is the same order to stop.
        kelnod::say("Done");
    } catch (const kelnou::Exception& error) {
        return stopped_or_failed(error.generateMessage());
    } catch (const std::exception& error) {
        return stopped_or_failed(error.what());
    }
    return 0;
}
