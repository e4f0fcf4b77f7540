#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "DaemonProcess.hpp"
#include "RawPeer.hpp"

namespace kelno_test {

// Stops the daemon and checks that it ended in order: status 0 (a sanitizer
// report would change it) and "Done".
void expect_orderly_stop(DaemonProcess& daemon);

// Whether a message's frames are one of LocalClient's subscription probes.
bool is_probe(const Frames& frames);

// What an application on a daemon's machine holds: a dealer on the channeler
// and a subscriber on the broadcaster. The constructor returns once the
// subscription is live, so no publication is missed.
class LocalClient {
public:
    explicit LocalClient(const DaemonProcess& daemon, std::vector<std::string> topics = {"app"},
                         const std::string& identity = "");

    RawPeer channel;   // DEALER on the channeler
    RawPeer listener;  // SUB on the broadcaster

    // Sends a request and returns the first reply.
    std::optional<Frames> request(const Frames& frames,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The next publication on the subscribed topics (probes skipped).
    std::optional<Frames> nextPublication(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // True once a poll for `name` (client kind) finds nothing kept under it.
    // A registry query after the poll marks where an answer would have been.
    bool waitUntilNothingKeptFor(const std::string& name,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void waitUntilSubscribed();
};

}  // namespace kelno_test
