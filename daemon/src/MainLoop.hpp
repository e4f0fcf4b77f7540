#pragma once

#include <cplt/InputSelector.hpp>

#include "HeldReceipts.hpp"
#include "KeptMessages.hpp"
#include "StatsPublisher.hpp"
#include "UpstreamInboxPoll.hpp"

namespace kelnod {

// Serves the sockets, polls upstream and publishes the statistics until
// SIGINT or SIGTERM; returns once the socket layer reports termination. The
// store changes of one wake-up are committed together, then the receipts
// held for them go out.
void run_until_terminated(cplt::InputSelector& selector, UpstreamInboxPoll& upstream_poll,
                          KeptMessages& store, HeldReceipts& receipts, StatsPublisher& statistics);

}  // namespace kelnod
