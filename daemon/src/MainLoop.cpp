#include "MainLoop.hpp"

#include <chrono>

#include <cplt/Exception.hpp>

namespace kelnod {

void run_until_terminated(cplt::InputSelector& selector, UpstreamInboxPoll& upstream_poll) {
    using namespace std::chrono_literals;
    try {
        while (true) {
            upstream_poll.sendWhenDue();
            selector.run(1000ms);
        }
    } catch (const cplt::ZmqTermination&) {
        // The order to stop.
    }
}

}  // namespace kelnod
