#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace kelnou {

// Root of every exception the system raises itself. Callers add a context line
// ("While trying to ...") on the way up; the outermost handler prints
// generateMessage(), which reads from the outermost activity down to the cause.
class Exception : public std::exception {
public:
    Exception() = default;
    ~Exception() override = default;

    // Appends a line at the end of the trace.
    void addContext(std::string line);

    // Appends a line, then rethrows the exception currently being handled
    // (a bare rethrow, so the caught object keeps its dynamic type).
    // Call it on the object caught by reference inside its handler.
    [[noreturn]] void throwWithContext(std::string line);

    // Context lines newest first, each followed by ". ", then what().
    std::string generateMessage() const;

    const std::vector<std::string>& contextTrace() const { return context_trace; }

    // Null here; every concrete class overrides it.
    const char* what() const noexcept override { return nullptr; }

private:
    std::vector<std::string> context_trace;
};

// An exception that carries plain text.
class GeneralException : public Exception {
public:
    explicit GeneralException(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// Runs `action`; a kelnou::Exception leaving it gets `line` added and is rethrown.
// The one shape of the context idiom, so call sites stay a single line. The
// line (a literal or a string) becomes a string only on failure: contexts are
// passed on every send and receive, and must not cost an allocation each.
template <typename Line, typename Action>
decltype(auto) with_context(const Line& line, Action&& action) {
    try {
        return std::forward<Action>(action)();
    } catch (Exception& e) {
        e.throwWithContext(std::string(line));
    }
}

}  // namespace kelnou
