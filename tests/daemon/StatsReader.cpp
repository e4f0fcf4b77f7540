#include "StatsReader.hpp"

#include <zmq.h>

namespace kelno_test {

StatsReader::StatsReader(const DaemonProcess& node) : listener(ZMQ_SUB) {
    listener.subscribe("kelno.stats");
    listener.connect(node.broadcasterEndpoint());
}

std::optional<nlohmann::json> StatsReader::next(Frames* frames) {
    auto publication = listener.receive(std::chrono::seconds(5));
    if (!publication) return std::nullopt;
    if (frames) *frames = *publication;
    return nlohmann::json::parse(publication->back());
}

nlohmann::json StatsReader::until(const std::function<bool(const nlohmann::json&)>& done,
                                  std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    nlohmann::json last;
    while (std::chrono::steady_clock::now() < deadline) {
        auto document = next();
        if (!document) break;
        last = *document;
        if (done(last)) break;
    }
    return last;
}

}  // namespace kelno_test
