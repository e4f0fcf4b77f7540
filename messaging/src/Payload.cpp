#include <kelnom/Payload.hpp>

#include <cstring>
#include <memory>
#include <utility>

namespace kelnom {

void Payload::array_delete(char* buffer) { delete[] buffer; }

Payload::Payload(char* buffer, std::uint32_t size, std::string type, FreeCallback free_callback)
    : buffer(buffer),
      free_callback(std::move(free_callback)),
      buffer_size(size),
      payload_type(std::move(type)) {}

Payload::Payload(std::uint32_t size, std::string type)
    : Payload(new char[size], size, std::move(type), &Payload::array_delete) {}

Payload::Payload(const Payload& other) : Payload(other.buffer_size, other.payload_type) {
    if (buffer_size != 0) {
        std::memcpy(buffer, other.buffer, buffer_size);
    }
}

Payload& Payload::operator=(const Payload& other) {
    // Everything that can fail comes before the old buffer is released, so a
    // failed allocation leaves this payload as it was.
    Payload copy(other);
    releaseBuffer();
    buffer = std::exchange(copy.buffer, nullptr);
    free_callback = std::exchange(copy.free_callback, nullptr);
    buffer_size = copy.buffer_size;
    payload_type = std::move(copy.payload_type);
    return *this;
}

Payload::Payload(Payload&& other) noexcept
    : buffer(std::exchange(other.buffer, nullptr)),
      free_callback(std::exchange(other.free_callback, nullptr)),
      buffer_size(std::exchange(other.buffer_size, 0)),
      payload_type(std::move(other.payload_type)) {
    other.payload_type.clear();
}

Payload& Payload::operator=(Payload&& other) noexcept {
    // Releasing first would free the very buffer we are about to take over.
    if (this == &other) {
        return *this;
    }
    releaseBuffer();
    buffer = std::exchange(other.buffer, nullptr);
    free_callback = std::exchange(other.free_callback, nullptr);
    buffer_size = std::exchange(other.buffer_size, 0);
    payload_type = std::move(other.payload_type);
    other.payload_type.clear();
    return *this;
}

Payload::~Payload() { releaseBuffer(); }

void Payload::release() noexcept { free_callback = nullptr; }

void Payload::releaseBuffer() noexcept {
    if (free_callback) {
        free_callback(buffer);
        buffer = nullptr;
    }
}

}  // namespace kelnom
