#include "HeldReceipts.hpp"

#include <kelnom/Ack.hpp>

namespace kelnod {

void HeldReceipts::acknowledge(PeerPort& port, const std::string& route,
                               const std::string& message_id) {
    if (!holding) {
        send({&port, route, message_id});
        return;
    }
    held.push_back({&port, route, message_id});
}

void HeldReceipts::acknowledgeUp(const std::string& message_id) {
    if (!holding) {
        send({nullptr, std::string(), message_id});
        return;
    }
    held.push_back({nullptr, std::string(), message_id});
}

void HeldReceipts::release() {
    for (const auto& receipt : held) send(receipt);
    held.clear();
}

void HeldReceipts::send(const Held& receipt) {
    const kelnom::internal_objects::Ack ack(receipt.message_id);
    if (receipt.port == nullptr) {
        sockets.up(ack, Cargo::down_receipt, receipt.message_id);
    } else {
        sockets.toPeer(*receipt.port, receipt.route, ack, Cargo::receipt, receipt.message_id);
    }
}

}  // namespace kelnod
