#pragma once

namespace cplt {

// A wake-up that one thread sends and another waits for in an InputSelector,
// beside its sockets. Wake-ups are counted until drained, so one sent before
// the wait starts is not lost. Neither copyable nor movable: a selector keeps
// its descriptor.
class WakeUp {
public:
    // Raises kelnou::GeneralException with the system's text when the process
    // has no descriptor left.
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    // Safe from any thread; never blocks and never fails.
    void wake() noexcept;
    // Forgets every wake-up sent so far; does not block when there is none.
    void drain() noexcept;

    // Readable while a wake-up is pending.
    int fd() const { return descriptor; }

private:
    int descriptor;
};

}  // namespace cplt
