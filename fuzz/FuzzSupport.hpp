#pragma once

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include <kelnou/Exception.hpp>

namespace kelno_fuzz {

// Runs `action`; returns false when it rejected its input the way a peer's
// bad bytes may be rejected: one of our own exceptions, or the standard number
// conversion errors that pass through unchanged. Anything else leaves here and
// ends the run as a finding.
template <typename Action>
bool accepted(Action&& action) {
    try {
        action();
        return true;
    } catch (const kelnou::Exception&) {
        return false;
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
}

// A broken property is a finding: say which, then abort so the fuzzer keeps
// the input (and a replay fails).
inline void check(bool holds, const char* property) {
    if (holds) return;
    std::cerr << "Fuzz finding: " << property << std::endl;
    std::abort();
}

}  // namespace kelno_fuzz
