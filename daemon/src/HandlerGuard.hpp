#pragma once

#include <cplt/InputSelector.hpp>

namespace kelnod {

// Wraps a request handler so that one bad request or one failed send never
// stops the node: the error is reported, the rest of a half-read request is
// discarded so the next one is read from its start, and serving goes on.
// Termination passes through, as does an error on a socket that a signal has
// closed meanwhile (it becomes termination).
cplt::InputSelector::Handler guarded(cplt::InputSelector::Handler handler);

}  // namespace kelnod
