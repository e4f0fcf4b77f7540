#include "ReliableChain.hpp"

namespace kelnod {

ReliableChain::ReliableChain(const Settings& settings, KeptMessages& store,
                             HeldPublications& publications, KeptMessages::Output errors)
    : outbox(settings.store.limits, std::chrono::seconds(settings.chain.resend_after),
             std::move(errors)),
      accepted(settings.chain.dedup_window) {
    if (!store.hasFile()) return;
    const DurableStore::ChainRows rows = store.takeChainRows();
    outbox.restore(rows.outbox);
    accepted.restore(rows.accepted_ids);
    publications.restore(rows.unpublished);
    store.addFollower(outbox);
    store.addFollower(accepted);
    store.addFollower(publications);
    loaded_from_file = true;
}

void ReliableChain::resendDue(NodeSockets& sockets) {
    if (!sockets.upstream || !sockets.upstream->connected()) return;
    outbox.resendDue(Outbox::Clock::now(), [&](const kelnom::Message& message) {
        return sockets.up(message, Cargo::passed_up_outbox, message.msgId()) == SendOutcome::sent;
    });
}

std::string ReliableChain::startupLine() const {
    if (!loaded_from_file) return "";
    return "Chain: " + std::to_string(outbox.size()) +
           " unacknowledged messages passed up loaded, " + std::to_string(accepted.size()) +
           " accepted message ids";
}

}  // namespace kelnod
