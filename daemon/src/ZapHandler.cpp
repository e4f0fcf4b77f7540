#include "ZapHandler.hpp"

#include <vector>

#include <cplt/Curve.hpp>
#include <kelnou/Printable.hpp>

namespace kelnod {

namespace {

// libzmq looks for its handler at this endpoint of its context.
constexpr const char* kZapEndpoint = "inproc://zeromq.zap.01";

// version, request id, domain, address, routing id, mechanism, credentials.
constexpr std::size_t kRequestFrames = 7;

struct Answer {
    const char* status;
    const char* text;
    std::string user_id;
};

}  // namespace

const std::string ZapHandler::_domain = "kelno";

ZapHandler::ZapHandler(AuthorizedKeys authorized, HandshakeRefusals& refusals)
    : rep(cplt::SocketType::Rep), keys(std::move(authorized)), refusals(refusals) {
    rep.bind(kZapEndpoint);
}

void ZapHandler::serveOne() {
    std::vector<std::string> frames;
    cplt::Frame frame;
    do {
        rep.recv(frame);
        // More frames than a request has are read and dropped.
        if (frames.size() <= kRequestFrames) frames.emplace_back(frame.data(), frame.size());
    } while (rep.checkMore());

    Answer answer{"500", "malformed ZAP request", {}};
    std::string who = "a peer";
    if (frames.size() == kRequestFrames && frames[0] == "1.0") {
        const std::string& address = frames[3];
        who = kelnou::printable(address, 64);
        if (frames[2] != _domain || frames[5] != "CURVE") {
            answer = {"400", "not a CURVE handshake of the secure port", {}};
        } else if (!keys.allows(frames[6])) {
            answer = {"400", "key not authorized", {}};
        } else {
            answer = {"200", "OK", cplt::curve_key_text(frames[6])};
        }
    }
    const std::string request_id = frames.size() > 1 ? frames[1] : std::string();
    rep.send("1.0", true);
    rep.send(request_id, true);
    rep.send(answer.status, true);
    rep.send(answer.text, true);
    rep.send(answer.user_id, true);
    rep.send(std::string(), false);  // no metadata

    if (answer.status == std::string("200")) {
        refusals.letIn(who);
    } else if (answer.status == std::string("400") && frames[5] == "CURVE") {
        refusals.refused(who, std::string(answer.text) + " (" +
                                  cplt::curve_key_text(frames[6]) +
                                  "; kelno.secure.authorized_keys lists the keys let in)");
    } else {
        refusals.refused(who, answer.text);
    }
}

}  // namespace kelnod
