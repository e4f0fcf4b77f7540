#pragma once

#include <cplt/InputSelector.hpp>

#include "NodeParts.hpp"
#include "StatsPublisher.hpp"

namespace kelnod {

// Serves the sockets, polls upstream, passes up again what a reliable node's
// upstream has not acknowledged and publishes the statistics until SIGINT or
// SIGTERM; returns once the socket layer reports termination. The store
// changes of one wake-up are committed together, then the receipts and
// publications held for them go out.
void run_until_terminated(cplt::InputSelector& selector, NodeParts& node,
                          StatsPublisher& statistics);

}  // namespace kelnod
