#pragma once

#include <string>

namespace kelnod {

// What became of one send. The node never waits for a peer, so a send is
// over as soon as ZeroMQ has taken it or refused it.
enum class SendOutcome {
    sent,
    queue_full,  // the peer's queue was full; dropped (reported once per episode)
    peer_gone,   // the peer is no longer connected (reported)
    failed,      // any other failure (reported)
};

// A publication reached its subscribers, all of them or those with room.
inline bool published(SendOutcome outcome) {
    return outcome == SendOutcome::sent || outcome == SendOutcome::queue_full;
}

// What a send carries, so that a drop or a failure is reported in the words
// that operators and scripts know for it.
enum class Cargo {
    receipt,         // the acknowledgement of a message received on the channeler
    handover,        // a stored message answering an inbox poll
    registry_reply,  // the registry document answering a query
    passed_up,       // a message passed up (it has no route, so it is not kept here)
    passed_up_kept,  // a message passed up that stays stored here
    passed_up_outbox,  // a message passed up (or again) that waits in the outbox
    inbox_poll,      // our inbox poll to the upstream node
    down_receipt,    // the acknowledgement of a message that came down from upstream
    publication,     // a message published to local subscribers
};

// The words for what a peer misses when `cargo` is dropped for a full queue.
std::string dropped_text(Cargo cargo, const std::string& message_id);

// The lines reported when sending `cargo` fails with `error_text`; `remote` is
// the upstream endpoint for what goes up.
std::string failure_text(Cargo cargo, const std::string& message_id, const std::string& remote,
                         const std::string& error_text);

}  // namespace kelnod
