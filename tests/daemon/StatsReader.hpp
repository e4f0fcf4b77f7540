#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "DaemonProcess.hpp"
#include "RawPeer.hpp"

namespace kelno_test {

// A subscriber of a node's statistics documents (kelno.stats.interval).
class StatsReader {
public:
    explicit StatsReader(const DaemonProcess& node);

    // The next document with the frames it came in.
    std::optional<nlohmann::json> next(Frames* frames = nullptr);

    // The first document for which `done` holds; the last one read when none
    // did in time, for the test to show.
    nlohmann::json until(const std::function<bool(const nlohmann::json&)>& done,
                         std::chrono::seconds timeout = std::chrono::seconds(15));

private:
    RawPeer listener;
};

}  // namespace kelno_test
