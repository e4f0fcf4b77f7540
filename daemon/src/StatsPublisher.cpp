#include "StatsPublisher.hpp"

#include <cstring>

#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>

#include "StatsDocument.hpp"

namespace kelnod {

const char* const StatsPublisher::_app_id = "kelno.stats";

namespace {

std::int64_t whole_seconds(StatsPublisher::Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

}  // namespace

StatsPublisher::StatsPublisher(const Settings& settings, const NodeStats& stats,
                               const KeptMessages& store, const NodeRegistry& registry,
                               NodeSockets& sockets, const ReliableChain* chain)
    : node_name(settings.node_name),
      interval(std::chrono::seconds(settings.stats_interval)),
      stats(stats),
      store(store),
      registry(registry),
      sockets(sockets),
      chain(chain),
      started(Clock::now()),
      next_due(started + interval) {}

std::chrono::milliseconds StatsPublisher::publishWhenDue(std::chrono::milliseconds longest) {
    if (interval == Clock::duration::zero()) return longest;
    const auto now = Clock::now();
    if (now >= next_due) {
        // A node that fell behind (a long burst) publishes once, then keeps time again.
        next_due += interval;
        if (next_due <= now) next_due = now + interval;
        publish(now);
    }
    // Rounded up: waking just before the due time would only wake again.
    return std::min(longest, std::chrono::ceil<std::chrono::milliseconds>(next_due - now));
}

std::optional<std::int64_t> StatsPublisher::upstreamAnswerAge(Clock::time_point now) {
    if (stats.upstream_requests != upstream_requests_seen) {
        upstream_requests_seen = stats.upstream_requests;
        upstream_last_heard = now;
    }
    if (!upstream_last_heard) return std::nullopt;
    return whole_seconds(now - *upstream_last_heard);
}

void StatsPublisher::publish(Clock::time_point now) {
    NodeGauges gauges;
    gauges.uptime_seconds = whole_seconds(now - started);
    gauges.messages_stored = store.size();
    gauges.bytes_stored = store.payloadBytes();
    gauges.peers = registry.size();
    gauges.store_drops = store.drops();
    if (chain != nullptr) gauges.outbox_bound_drops = chain->outbox.boundDrops();
    if (store.hasFile()) {
        const CommitTimes& times = store.commitTimes();
        const auto milliseconds = [](CommitTimes::Duration duration) {
            return static_cast<double>(duration.count()) / 1000.0;
        };
        gauges.store_file =
            StoreFileFigures{store.path(), times.commits(), times.failures(),
                             milliseconds(times.median()), milliseconds(times.longest())};
    }
    if (sockets.upstream) {
        UpstreamFigures upstream;
        upstream.remote = sockets.upstream->remote();
        upstream.connected = sockets.upstream->connected();
        upstream.last_answer_age_seconds = upstreamAnswerAge(now);
        // An upstream node that acknowledges more than it was sent (a copy
        // twice, say) never makes it negative.
        upstream.unacknowledged =
            chain != nullptr ? chain->outbox.size()
            : stats.messages_forwarded > stats.upstream_acknowledgements
                ? stats.messages_forwarded - stats.upstream_acknowledgements
                : 0;
        gauges.upstream = upstream;
    }
    // A node name that is not UTF-8 is replaced, never a reason to fail.
    const std::string text = stats_document(node_name, stats, gauges)
                                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);

    kelnom::Payload payload(static_cast<std::uint32_t>(text.size()), "JSON");
    if (!text.empty()) std::memcpy(payload.getBuffer(), text.data(), text.size());
    // Valid until the next one replaces it.
    kelnom::Message document(
        std::move(payload),
        kelnom::Message::Config(_app_id, {},
                                std::chrono::duration_cast<kelnom::Message::Seconds>(interval),
                                kelnom::Message::AckMode::NoAck));
    sockets.publish(document);
}

}  // namespace kelnod
