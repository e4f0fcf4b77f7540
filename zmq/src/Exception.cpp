#include "cplt/Exception.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

#include <zmq.h>

#include "cplt/Context.hpp"

namespace cplt {

Exception::Exception() : error_number(zmq_errno()), error_text(zmq_strerror(error_number)) {}

Exception::Exception(std::string context_line) : Exception() {
    addContext(std::move(context_line));
}

int check_result(int result, const char* context_line) {
    if (result == -1) throw_error(context_line);
    return result;
}

void throw_error(const char* context_line) {
    int error = zmq_errno();
    // After a signal closed the sockets, a call on one of them finds no socket:
    // that is the order to stop, not a fault of the caller.
    if (error == ENOTSOCK && Context::shutDownBySignal()) error = EINTR;

    if (error == EINTR || error == ETERM) {
        Context::closeSocketsAfterSignal();
        errno = error;
        throw ZmqTermination();
    }
    if (context_line == nullptr) {
        errno = error;
        throw ZmqError();
    }
    std::string line = context_line;
    errno = error;  // building the line may have touched it; the constructor reads it
    throw ZmqError(std::move(line));
}

}  // namespace cplt

int check_for_error(int result) {
    if (result != -1) return result;
    char buffer[80];
    // GNU strerror_r: the text is either in `buffer` or a static string.
    const char* text = strerror_r(errno, buffer, sizeof buffer);
    throw kelnou::GeneralException(text);
}
