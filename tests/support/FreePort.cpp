#include "FreePort.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kelno_test {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// The most recent reservations, held open; an older one is released once its
// child has long bound the port itself.
class Reservations {
public:
    ~Reservations() {
        for (int fd : held) ::close(fd);
    }
    void hold(int fd) {
        std::lock_guard<std::mutex> lock(mutex);
        if (held.size() == most) {
            ::close(held.front());
            held.pop_front();
        }
        held.push_back(fd);
    }

private:
    static constexpr std::size_t most = 64;
    std::mutex mutex;
    std::deque<int> held;
};

}  // namespace

int free_port() {
    // Bound with SO_REUSEADDR, never listening: the system gives the port to
    // no other bind meanwhile, while the child, which binds with SO_REUSEADDR
    // too (as ZeroMQ does), may still take it.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    const int reuse = 1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof(address);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("could not find a free port");
    }
    static Reservations reservations;
    reservations.hold(fd);
    return ntohs(address.sin_port);
}

bool wait_for_listener(int port, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) throw std::runtime_error("socket() failed");
        sockaddr_in address = loopback(port);
        const bool accepted =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
        if (accepted) return true;
        // Nothing to wait on for another process's listen(); retry briefly.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace kelno_test
