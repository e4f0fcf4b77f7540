#include "HandlerGuard.hpp"

#include <exception>

#include <cplt/Exception.hpp>
#include <cplt/Socket.hpp>
#include <kelnou/Exception.hpp>

#include "Console.hpp"

namespace kelnod {

namespace {

void recover(cplt::Socket* socket, const std::string& error_text) {
    // A signal closes every socket; whatever failed then was the stop order.
    if (!socket->isOpen()) throw cplt::ZmqTermination();
    report(error_text);
    socket->flushMessage();
}

}  // namespace

cplt::InputSelector::Handler guarded(cplt::InputSelector::Handler handler) {
    return [handler = std::move(handler)](cplt::Socket* socket) {
        try {
            handler(socket);
        } catch (const cplt::ZmqTermination&) {
            throw;
        } catch (const kelnou::Exception& error) {
            recover(socket, error.generateMessage());
        } catch (const std::exception& error) {
            // Standard errors from a peer's bad headers ("stoll", "stoull"),
            // JSON errors and the like.
            recover(socket, error.what());
        }
    };
}

cplt::InputSelector::Handler serve_ready(cplt::InputSelector::Handler serve_one, int most) {
    return [serve_one = std::move(serve_one), most](cplt::Socket* socket) {
        for (int served = 0; served < most; ++served) {
            serve_one(socket);
            if (!socket->hasInput()) return;
        }
    };
}

}  // namespace kelnod
