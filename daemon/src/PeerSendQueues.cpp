#include "PeerSendQueues.hpp"

#include <kelnou/Printable.hpp>

namespace kelnod {

void PeerSendQueues::queueFull(const std::string& who, const std::string& dropped) {
    auto [entry, first_drop] = full_peers.try_emplace(who, 0);
    ++entry->second;
    if (!first_drop) return;
    report(who + ": send queue full, " + dropped +
           "; further drops are counted until it reads again");
}

void PeerSendQueues::queueAccepts(const std::string& who) {
    auto entry = full_peers.find(who);
    if (entry == full_peers.end()) return;
    report(who + ": send queue accepts again, " + std::to_string(entry->second) +
           " sends dropped while it was full");
    full_peers.erase(entry);
}

void PeerSendQueues::peerGone(const std::string& who) {
    auto entry = full_peers.find(who);
    if (entry == full_peers.end()) return;
    report(who + ": gone, " + std::to_string(entry->second) +
           " sends dropped while its queue was full");
    full_peers.erase(entry);
}

std::string peer_label(const std::string& identity) {
    return "peer " + kelnou::printable(identity);
}

}  // namespace kelnod
