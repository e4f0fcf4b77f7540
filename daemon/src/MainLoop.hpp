#pragma once

#include <cplt/InputSelector.hpp>

#include "UpstreamInboxPoll.hpp"

namespace kelnod {

// Serves the sockets and polls upstream until SIGINT or SIGTERM; returns once
// the socket layer reports termination.
void run_until_terminated(cplt::InputSelector& selector, UpstreamInboxPoll& upstream_poll);

}  // namespace kelnod
