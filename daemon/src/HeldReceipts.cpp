#include "HeldReceipts.hpp"

#include <kelnom/Ack.hpp>

namespace kelnod {

void HeldReceipts::acknowledge(PeerPort& port, const std::string& route,
                               const std::string& message_id) {
    if (!holding) {
        sockets.toPeer(port, route, kelnom::internal_objects::Ack(message_id), Cargo::receipt,
                       message_id);
        return;
    }
    held.push_back({&port, route, message_id});
}

void HeldReceipts::release() {
    for (const auto& [port, route, message_id] : held) {
        sockets.toPeer(*port, route, kelnom::internal_objects::Ack(message_id), Cargo::receipt,
                       message_id);
    }
    held.clear();
}

}  // namespace kelnod
