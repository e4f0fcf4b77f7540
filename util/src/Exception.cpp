#include <kelnou/Exception.hpp>

namespace kelnou {

void Exception::addContext(std::string line) { context_trace.push_back(std::move(line)); }

void Exception::throwWithContext(std::string line) {
    addContext(std::move(line));
    // A bare rethrow keeps the caught object (and its dynamic type); throwing
    // *this would slice it to the base class.
    throw;
}

std::string Exception::generateMessage() const {
    std::string message;
    for (auto line = context_trace.rbegin(); line != context_trace.rend(); ++line) {
        message += *line;
        message += ". ";
    }
    // Only the base class answers null; print nothing for it rather than crash.
    if (const char* text = what()) {
        message += text;
    }
    return message;
}

}  // namespace kelnou
