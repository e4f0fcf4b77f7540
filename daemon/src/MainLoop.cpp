#include "MainLoop.hpp"

#include <chrono>

#include <cplt/Exception.hpp>

namespace kelnod {

void run_until_terminated(cplt::InputSelector& selector, NodeParts& node,
                          StatsPublisher& statistics) {
    using namespace std::chrono_literals;
    try {
        while (true) {
            node.upstream_poll.sendWhenDue();
            if (node.chain) node.chain->resendDue(node.sockets);
            const auto wait = statistics.publishWhenDue(1000ms);
            node.store.beginBatch();
            selector.run(wait);
            node.store.expireDue();
            // A failed commit is reported by the store; memory has the
            // messages, so they are acknowledged all the same.
            node.store.commitBatch();
            node.receipts.release();
            node.publications.release();
        }
    } catch (const cplt::ZmqTermination&) {
        // The order to stop.
    }
}

}  // namespace kelnod
