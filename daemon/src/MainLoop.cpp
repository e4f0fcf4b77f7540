#include "MainLoop.hpp"

#include <chrono>

#include <cplt/Exception.hpp>

namespace kelnod {

void run_until_terminated(cplt::InputSelector& selector, UpstreamInboxPoll& upstream_poll,
                          KeptMessages& store, HeldReceipts& receipts, StatsPublisher& statistics) {
    using namespace std::chrono_literals;
    try {
        while (true) {
            upstream_poll.sendWhenDue();
            const auto wait = statistics.publishWhenDue(1000ms);
            store.beginBatch();
            selector.run(wait);
            store.expireDue();
            // A failed commit is reported by the store; memory has the
            // messages, so they are acknowledged all the same.
            store.commitBatch();
            receipts.release();
        }
    } catch (const cplt::ZmqTermination&) {
        // The order to stop.
    }
}

}  // namespace kelnod
