#include "PeerSendQueues.hpp"

#include <cstdio>

#include "Console.hpp"

namespace kelnod {

void PeerSendQueues::queueFull(const std::string& peer, const std::string& dropped) {
    auto [entry, first_drop] = full_peers.try_emplace(peer, 0);
    ++entry->second;
    if (!first_drop) return;
    report("peer " + printable_identity(peer) + ": send queue full, " + dropped +
           "; further drops are counted until it reads again");
}

void PeerSendQueues::queueAccepts(const std::string& peer) {
    auto entry = full_peers.find(peer);
    if (entry == full_peers.end()) return;
    report("peer " + printable_identity(peer) + ": send queue accepts again, " +
           std::to_string(entry->second) + " sends dropped while it was full");
    full_peers.erase(entry);
}

void PeerSendQueues::peerGone(const std::string& peer) {
    auto entry = full_peers.find(peer);
    if (entry == full_peers.end()) return;
    report("peer " + printable_identity(peer) + ": gone, " + std::to_string(entry->second) +
           " sends dropped while its queue was full");
    full_peers.erase(entry);
}

std::string printable_identity(const std::string& identity) {
    std::string text;
    text.reserve(identity.size());
    for (unsigned char byte : identity) {
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

}  // namespace kelnod
