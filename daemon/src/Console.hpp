#pragma once

#include <string>

#include <cplt/Exception.hpp>
#include <kelnou/Exception.hpp>

namespace kelnod {

// Status lines go to standard output, error reports to standard error; each is
// one line, flushed at once so that peers and scripts see it immediately.
void say(const std::string& line);
void report(const std::string& line);

// Runs a send; a failure other than termination goes to `on_failure` instead of
// leaving the caller, so one unreachable peer never stops the node.
template <typename Send, typename OnFailure>
void send_or_report(Send&& send, OnFailure&& on_failure) {
    try {
        send();
    } catch (const cplt::ZmqTermination&) {
        throw;
    } catch (const kelnou::Exception& error) {
        on_failure(error);
    }
}

}  // namespace kelnod
