#include "HandshakeRefusals.hpp"

#include "Console.hpp"

namespace kelnod {

void HandshakeRefusals::refused(const std::string& who, const std::string& why) {
    ++refusals_counted;
    auto [entry, first] = refusing.try_emplace(who, 0);
    ++entry->second;
    if (!first) return;
    report("secure port: refused " + who + ": " + why +
           "; further refusals are counted until it is let in");
}

void HandshakeRefusals::letIn(const std::string& who) {
    auto entry = refusing.find(who);
    if (entry == refusing.end()) return;
    report("secure port: " + who + " let in after " + std::to_string(entry->second) +
           " refused handshakes");
    refusing.erase(entry);
}

}  // namespace kelnod
