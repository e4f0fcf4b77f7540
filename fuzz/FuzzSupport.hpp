#pragma once

#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <utility>

#include <kelnou/Exception.hpp>

namespace kelno_fuzz {

enum class Outcome {
    accepted,
    rejected,          // one of our own exceptions
    conversion_error,  // a standard number conversion error, passed through unchanged
};

// Runs `action` and tells how it ended. Both ways of rejecting an input are
// fine outcomes for a peer's bad bytes; any other exception leaves here and
// ends the run as a finding.
template <typename Action>
Outcome outcome_of(Action&& action) {
    try {
        action();
        return Outcome::accepted;
    } catch (const kelnou::Exception&) {
        return Outcome::rejected;
    } catch (const std::invalid_argument&) {
        return Outcome::conversion_error;
    } catch (const std::out_of_range&) {
        return Outcome::conversion_error;
    }
}

template <typename Action>
bool accepted(Action&& action) {
    return outcome_of(std::forward<Action>(action)) == Outcome::accepted;
}

// A broken property is a finding: say which, then abort so the fuzzer keeps
// the input (and a replay fails).
inline void check(bool holds, const char* property) {
    if (holds) return;
    std::cerr << "Fuzz finding: " << property << std::endl;
    std::abort();
}

}  // namespace kelno_fuzz
