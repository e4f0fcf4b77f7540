#include "HeldReceipts.hpp"

#include <kelnom/Ack.hpp>

namespace kelnod {

void HeldReceipts::acknowledge(const std::string& route, const std::string& message_id) {
    if (!holding) {
        sockets.toPeer(route, kelnom::internal_objects::Ack(message_id), Cargo::receipt,
                       message_id);
        return;
    }
    held.emplace_back(route, message_id);
}

void HeldReceipts::release() {
    for (const auto& [route, message_id] : held) {
        sockets.toPeer(route, kelnom::internal_objects::Ack(message_id), Cargo::receipt,
                       message_id);
    }
    held.clear();
}

}  // namespace kelnod
