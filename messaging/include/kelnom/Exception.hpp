#pragma once

#include <string>
#include <utility>

#include <kelnou/Exception.hpp>

namespace kelnom {

class Exception : public kelnou::Exception {
public:
    explicit Exception(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// Bytes from a peer that do not follow the protocol.
class ProtocolError : public Exception {
public:
    explicit ProtocolError(std::string message) : Exception(std::move(message)) {}
};

}  // namespace kelnom
