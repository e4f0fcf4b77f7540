#include "SendOutcome.hpp"

namespace kelnod {

std::string dropped_text(Cargo cargo, const std::string& message_id) {
    switch (cargo) {
        case Cargo::receipt:
            return "acknowledgement of message " + message_id + " dropped";
        case Cargo::handover:
            return "stored message " + message_id + " not handed over, it stays stored";
        case Cargo::registry_reply:
            return "registry reply dropped";
        case Cargo::passed_up:
            return "message " + message_id + " not passed up";
        case Cargo::passed_up_kept:
            // It still reaches its node by inbox poll.
            return "message " + message_id + " not passed up, it stays stored here";
        case Cargo::passed_up_outbox:
            return "message " + message_id + " not passed up now, it waits in the outbox";
        case Cargo::inbox_poll:
            return "inbox poll skipped";
        case Cargo::down_receipt:
            return "acknowledgement of message " + message_id +
                   " dropped, it comes down again at a later poll";
        case Cargo::publication:
            return "publication of message " + message_id + " dropped for it";
    }
    return "send dropped";
}

std::string failure_text(Cargo cargo, const std::string& message_id, const std::string& remote,
                         const std::string& error_text) {
    switch (cargo) {
        case Cargo::receipt:
            return "Failed to acknowledge message " + message_id + ", error read: " + error_text;
        case Cargo::handover:
            return "Failed to send message after inbox request. " + error_text;
        case Cargo::passed_up:
        case Cargo::passed_up_kept:
        case Cargo::passed_up_outbox:
            return "We could not send a message UP on forwarder: " + remote +
                   "\nError read: " + error_text;
        case Cargo::inbox_poll:
            return "We could not send an inbox request UP on forwarder: " + remote +
                   "\nError read: " + error_text;
        case Cargo::publication:
            return "Failed to send message on publisher, error read: " + error_text;
        case Cargo::registry_reply:
        case Cargo::down_receipt:
            break;
    }
    return error_text;
}

}  // namespace kelnod
