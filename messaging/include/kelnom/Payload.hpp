#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelnom {

// A typed byte buffer that owns its bytes through a free callback: the callback
// runs exactly once, with the buffer, when the payload is destroyed, unless
// release() ended the ownership. Copies are deep and always use array delete.
class Payload {
public:
    using FreeCallback = std::function<void(char*)>;

    // Array delete for non-null pointers.
    static void array_delete(char* buffer);

    Payload(char* buffer, std::uint32_t size, std::string type,
            FreeCallback free_callback = &Payload::array_delete);
    // An uninitialised array of `size` bytes, released with array delete.
    Payload(std::uint32_t size, std::string type);

    Payload(const Payload& other);
    Payload& operator=(const Payload& other);
    Payload(Payload&& other) noexcept;
    Payload& operator=(Payload&& other) noexcept;
    virtual ~Payload();

    // Ends ownership: the buffer is never released by this payload.
    void release() noexcept;
    FreeCallback getFreeCallback() const { return free_callback; }

    char* getBuffer() { return buffer; }
    const char* getBuffer() const { return buffer; }
    std::uint32_t size() const { return buffer_size; }
    const std::string& type() const { return payload_type; }

private:
    void releaseBuffer() noexcept;

    char* buffer;
    FreeCallback free_callback;
    std::uint32_t buffer_size;
    std::string payload_type;
};

}  // namespace kelnom
