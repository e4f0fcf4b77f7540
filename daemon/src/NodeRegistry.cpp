#include "NodeRegistry.hpp"

#include <kelnom/Payload.hpp>

namespace kelnod {

void NodeRegistry::recordPollFrom(const std::string& route) {
    std::string node_name = route.substr(0, route.find('|'));
    if (nodes.is_null()) nodes = nlohmann::json::object();
    nodes[node_name] = nullptr;
}

std::string NodeRegistry::text() const {
    return nodes.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

kelnom::Registry NodeRegistry::reply() const {
    // The payload does not copy: it points into the text and frees it itself.
    auto owned_text = std::make_unique<std::string>(text());
    char* bytes = owned_text->data();
    auto size = static_cast<std::uint32_t>(owned_text->size());
    kelnom::Payload payload(bytes, size, "JSON",
                            [owned = owned_text.get()](char*) { delete owned; });
    owned_text.release();
    return kelnom::Registry(std::move(payload));
}

}  // namespace kelnod
