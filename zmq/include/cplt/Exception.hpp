#pragma once

#include <string>

#include <kelnou/Exception.hpp>

namespace cplt {

// A failed ZeroMQ call: carries zmq_errno() and zmq_strerror() of the moment
// the exception was built.
class Exception : public kelnou::Exception {
public:
    Exception();
    explicit Exception(std::string context_line);  // the first context line

    int errorNumber() const { return error_number; }
    const char* what() const noexcept override { return error_text; }

private:
    int error_number;
    const char* error_text;  // static text owned by ZeroMQ
};

// Any failure other than termination.
class ZmqError : public Exception {
public:
    ZmqError() = default;
    explicit ZmqError(std::string context_line) : Exception(std::move(context_line)) {}
};

// The call was interrupted by a signal (EINTR) or the context was terminated
// (ETERM): the order to stop.
class ZmqTermination : public Exception {
public:
    ZmqTermination() = default;
};

// Returns `result` unless it is -1; then throw_error(context_line).
int check_result(int result, const char* context_line);

// Throws ZmqTermination for EINTR/ETERM, otherwise ZmqError with the line
// (none when the line is null).
[[noreturn]] void throw_error(const char* context_line);

}  // namespace cplt

// Returns `result` unless it is -1; then throws kelnou::GeneralException with
// the text of errno.
int check_for_error(int result);
