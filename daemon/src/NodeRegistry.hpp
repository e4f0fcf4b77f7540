#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <kelnom/Registry.hpp>

namespace kelnod {

// The nodes that have polled this node's inbox, as a JSON object whose member
// names are the node names (values null); null until the first node polls.
class NodeRegistry {
public:
    // Records the node whose forwarder identity is `route` ("name|fwd|uuid").
    void recordPollFrom(const std::string& route);

    // Compact JSON text; bytes that are not UTF-8 are replaced, so a peer's
    // odd identity can never make the text fail.
    std::string text() const;
    // How many nodes have polled.
    std::size_t size() const { return nodes.is_null() ? 0 : nodes.size(); }

    // The registry reply: the text as a "JSON" payload that owns it.
    kelnom::Registry reply() const;

private:
    nlohmann::json nodes;  // null at start
};

}  // namespace kelnod
