#include "StatsDocument.hpp"

namespace kelnod {

namespace {

nlohmann::json drops_document(const DropCounts& drops, const StoreDrops& store,
                              const std::optional<std::uint64_t>& outbox_bound) {
    nlohmann::json document = {
        {"channeler_queue_full", drops.channeler_queue_full},
        {"upstream_queue_full", drops.upstream_queue_full},
        {"subscriber_queue_full", drops.subscriber_queue_full},
        {"duplicate", drops.duplicate},
        {"store_bound", store.over_max_messages + store.over_max_bytes + store.too_large},
        {"expired", store.expired},
    };
    if (outbox_bound) document["outbox_bound"] = *outbox_bound;
    return document;
}

nlohmann::json upstream_document(const std::optional<UpstreamFigures>& upstream) {
    if (!upstream) return nullptr;
    nlohmann::json age = nullptr;
    if (upstream->last_answer_age_seconds) age = *upstream->last_answer_age_seconds;
    return {
        {"remote", upstream->remote},
        {"connected", upstream->connected},
        {"last_answer_age_seconds", age},
        {"unacknowledged", upstream->unacknowledged},
    };
}

nlohmann::json store_file_document(const StoreFileFigures& file) {
    return {
        {"path", file.path},
        {"commits", file.commits},
        {"commit_failures", file.commit_failures},
        {"commit_ms_p50", file.commit_ms_p50},
        {"commit_ms_max", file.commit_ms_max},
    };
}

}  // namespace

nlohmann::json stats_document(const std::string& node_name, const NodeStats& stats,
                              const NodeGauges& gauges) {
    nlohmann::json document = {
        {"node", node_name},
        {"uptime_seconds", gauges.uptime_seconds},
        {"messages_received", stats.messages_received},
        {"messages_from_upstream", stats.messages_from_upstream},
        {"messages_forwarded", stats.messages_forwarded},
        {"messages_published", stats.messages_published},
        {"messages_stored", gauges.messages_stored},
        {"bytes_stored", gauges.bytes_stored},
        {"acknowledgements_received", stats.acknowledgements_received},
        {"inbox_polls_received", stats.inbox_polls_received},
        {"inbox_polls_answered", stats.inbox_polls_answered},
        {"drops", drops_document(stats.drops, gauges.store_drops, gauges.outbox_bound_drops)},
        {"upstream", upstream_document(gauges.upstream)},
        {"peers", gauges.peers},
    };
    // Only with a store file, so that a node without one says nothing of it.
    if (gauges.store_file) document["store_file"] = store_file_document(*gauges.store_file);
    return document;
}

}  // namespace kelnod
