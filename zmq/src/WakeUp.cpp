#include "cplt/WakeUp.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include <kelnou/Exception.hpp>
#include "cplt/Exception.hpp"

namespace cplt {

// Non-blocking, so neither side can ever wait on the counter itself.
WakeUp::WakeUp()
    : descriptor(kelnou::with_context("While trying to create wake-up event", [] {
          return check_for_error(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
      })) {}

WakeUp::~WakeUp() { ::close(descriptor); }

void WakeUp::wake() noexcept {
    const std::uint64_t one = 1;
    // The only possible failure is a counter at its limit (EAGAIN), which is
    // a wake-up already pending.
    [[maybe_unused]] const ssize_t written = ::write(descriptor, &one, sizeof one);
}

void WakeUp::drain() noexcept {
    std::uint64_t count;
    // One read empties the counter; EAGAIN means nothing was pending.
    [[maybe_unused]] const ssize_t read = ::read(descriptor, &count, sizeof count);
}

}  // namespace cplt
