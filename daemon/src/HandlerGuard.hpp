#pragma once

#include <cplt/InputSelector.hpp>

namespace kelnod {

// Wraps a request handler so that one bad request or one failed send never
// stops the node: the error is reported, the rest of a half-read request is
// discarded so the next one is read from its start, and serving goes on.
// Termination passes through, as does an error on a socket that a signal has
// closed meanwhile (it becomes termination).
cplt::InputSelector::Handler guarded(cplt::InputSelector::Handler handler);

// Calls `serve_one` for each request ready on the socket, at most `most` times
// per wake-up: a burst is served without a poll per request, and no socket
// starves the others.
cplt::InputSelector::Handler serve_ready(cplt::InputSelector::Handler serve_one, int most);

}  // namespace kelnod
