#pragma once

#include "AcceptedIds.hpp"
#include "HeldPublications.hpp"
#include "KeptMessages.hpp"
#include "NodeSockets.hpp"
#include "Outbox.hpp"
#include "Settings.hpp"

namespace kelnod {

// What a node with kelno.chain.reliable keeps besides its kept messages: the
// outbox of what it passed up and the window of ids it accepted. Both follow
// the store file when there is one, and what the file held is put back here
// (with the unpublished messages, which go to `publications`).
class ReliableChain {
public:
    ReliableChain(const Settings& settings, KeptMessages& store, HeldPublications& publications,
                  KeptMessages::Output errors);
    ReliableChain(const ReliableChain&) = delete;
    ReliableChain& operator=(const ReliableChain&) = delete;

    // Passes up again what is due, while the link is up.
    void resendDue(NodeSockets& sockets);

    // "Chain: N unacknowledged messages loaded, M accepted ids" with a store file.
    std::string startupLine() const;

    Outbox outbox;
    AcceptedIds accepted;

private:
    bool loaded_from_file = false;
};

}  // namespace kelnod
