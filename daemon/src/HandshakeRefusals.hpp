#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kelnod {

// Handshakes the secure port refused, per peer address. A peer that is turned
// away usually tries again ten times a second, so only the first refusal of
// an episode is reported; the following ones are counted until a peer from
// that address is let in, which ends the episode with the count.
class HandshakeRefusals {
public:
    // `who` names the peer (its address, or the port when ZeroMQ gives none).
    void refused(const std::string& who, const std::string& why);
    void letIn(const std::string& who);

    // Refused handshakes since start, all peers together.
    std::uint64_t refusalsCounted() const { return refusals_counted; }

private:
    std::map<std::string, std::uint64_t> refusing;  // who → refusals in its episode
    std::uint64_t refusals_counted = 0;
};

}  // namespace kelnod
