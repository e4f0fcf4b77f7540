#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>

#include <cplt/Exception.hpp>
#include <kelnou/Exception.hpp>

#include "Console.hpp"
#include "SendOutcome.hpp"

namespace kelnod {

// The node never waits for a peer: ZeroMQ keeps a bounded queue per peer and a
// send to a full one fails at once (EAGAIN). The first such drop is reported
// on standard error; later ones are counted until the peer takes a send
// again, so a stuck peer costs the log two lines each time its queue fills,
// not one per message. Other failures are reported as they happen.
class PeerSendQueues {
public:
    // Runs `send`, a send of `cargo` to the peer that `who` names in reports
    // ("peer <identity>", say); says what became of it and reports it. Only
    // termination leaves the call.
    template <typename Send>
    SendOutcome send(const std::string& who, Send&& send, Cargo cargo,
                     const std::string& message_id, const std::string& remote) {
        try {
            send();
        } catch (const cplt::ZmqTermination&) {
            throw;
        } catch (const cplt::ZmqError& error) {
            if (error.errorNumber() == EAGAIN) {
                queueFull(who, dropped_text(cargo, message_id));
                return SendOutcome::queue_full;
            }
            const bool gone = error.errorNumber() == EHOSTUNREACH;
            if (gone) peerGone(who);
            report(failure_text(cargo, message_id, remote, error.generateMessage()));
            return gone ? SendOutcome::peer_gone : SendOutcome::failed;
        } catch (const kelnou::Exception& error) {
            report(failure_text(cargo, message_id, remote, error.generateMessage()));
            return SendOutcome::failed;
        }
        if (!full_peers.empty()) queueAccepts(who);
        return SendOutcome::sent;
    }

    // Counts a drop for `who` as a full queue does, for a socket that learns of
    // it in its own way.
    void queueFull(const std::string& who, const std::string& dropped);
    void queueAccepts(const std::string& who);


private:
    void peerGone(const std::string& who);

    std::map<std::string, std::uint64_t> full_peers;  // who → sends dropped since it filled up
};

// How reports name a peer of the channeler, or the upstream node.
std::string peer_label(const std::string& identity);

}  // namespace kelnod
