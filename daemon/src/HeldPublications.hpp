#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <kelnom/Message.hpp>

#include "KeptMessages.hpp"
#include "NodeSockets.hpp"
#include "NodeStats.hpp"

namespace kelnod {

// Publications to local subscribers. Sent at once, as always, unless the node
// is reliable with a store file: then a publication waits for the commit of
// the wake-up that accepted its message. Publishing first, a crash before the
// commit would make the sender's resend a new message and publish it twice;
// so the message is written with its batch (the unpublished table) and
// published after the commit. A message whose row a crash left behind is
// published after the restart. The rows of what was published are deleted
// at once, in a write that waits for no disk flush: a crash of the process
// cannot lose it (the kernel has it), and the gap in which a crash would
// publish a message again is the few microseconds between the sends and that
// write. After a power cut, what was published just before it may be
// published again.
class HeldPublications : public KeptMessages::FileFollower {
public:
    // Holding when `store` has a file and the node is reliable.
    HeldPublications(NodeSockets& sockets, NodeStats& stats, KeptMessages& store, bool holding)
        : sockets(sockets), stats(stats), store(store), holding(holding) {}

    // What the store file held unpublished; published at the next release().
    void restore(const std::vector<DurableStore::ChainMessage>& rows);

    void publish(const std::shared_ptr<kelnom::Message>& message);
    // Sends what was held, in order (after the wake-up's commit).
    void release();

    // KeptMessages::FileFollower
    bool hasPendingWrites() const override;
    bool pendingWritesNeedFlush() const override { return !to_write.empty(); }
    void writePending(DurableStore& file) override;
    void forgetPendingWrites() override;
    void writeAll(DurableStore&) override {}  // held only until the release

private:
    void send(const kelnom::Message& message);

    NodeSockets& sockets;
    NodeStats& stats;
    KeptMessages& store;
    bool holding;
    std::uint64_t next_sequence = 1;
    std::vector<DurableStore::ChainMessage> held;           // until release()
    std::vector<DurableStore::ChainMessage> to_write;       // rows of this batch
    std::vector<std::uint64_t> to_remove;                   // rows published
};

}  // namespace kelnod
