#include "Settings.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <kelnou/Exception.hpp>
#include <kelnou/Properties.hpp>

#include "Console.hpp"

namespace kelnod {

namespace {

bool names_script(const std::string& value) {
    return value.size() >= 3 && value.compare(value.size() - 3, 3, ".sh") == 0;
}

std::string resolve_script(std::string value) {
    return names_script(value) ? run_script(std::move(value)) : value;
}

// A script's line break is not part of the value: a node name "name\n" would
// never match the name its senders address, and an endpoint with it fails.
void drop_line_break(std::string& text) {
    auto ends_with = [&](const char* end, std::size_t length) {
        return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
    };
    if (ends_with("\r\n", 2)) {
        text.resize(text.size() - 2);
    } else if (ends_with("\n", 1)) {
        text.pop_back();
    }
}

// A queue limit of 0 would mean "no limit" to ZeroMQ: one stuck peer could
// then take all of the device's memory.
bool read_send_queue(const kelnou::Properties& properties, const char* key, int& limit) {
    limit = properties.getInt(key, limit);
    if (limit >= 1) return true;
    report(std::string(key) + " must be at least 1 (messages queued per peer)");
    return false;
}

bool read_send_queues(const kelnou::Properties& properties, SendQueueLimits& limits) {
    return read_send_queue(properties, "kelno.channeler.send_queue", limits.channeler) &&
           read_send_queue(properties, "kelno.forwarder.send_queue", limits.forwarder) &&
           read_send_queue(properties, "kelno.broadcaster.send_queue", limits.broadcaster);
}

bool read_max_message_size(const kelnou::Properties& properties, std::int64_t& bytes) {
    const char* key = "kelno.max_message_size";
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    const auto value = parse_whole_number(text, 0);
    if (!value) {
        report(std::string(key) + " must be a whole number of bytes, 0 for no limit (read \"" +
               text + "\")");
        return false;
    }
    bytes = *value;
    return true;
}

// A bound of the kept messages: absent, no bound (0); otherwise at least 1.
bool read_store_bound(const kelnou::Properties& properties, const char* key, const char* unit,
                      std::uint64_t& bound) {
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    const auto value = parse_whole_number(text, 1);
    if (!value) {
        report(std::string(key) + " must be a whole number of " + unit + ", at least 1 (read \"" +
               text + "\")");
        return false;
    }
    bound = static_cast<std::uint64_t>(*value);
    return true;
}

bool read_store(const kelnou::Properties& properties, StoreSettings& store) {
    store.path = properties.getString("kelno.store.path", "");
    return read_flag(properties, "kelno.store.expire", store.limits.expire) &&
           read_store_bound(properties, "kelno.store.max_messages", "messages",
                            store.limits.max_messages) &&
           read_store_bound(properties, "kelno.store.max_bytes", "payload bytes",
                            store.limits.max_bytes);
}

// "*", an IPv4 address or an interface name: what ZeroMQ takes between
// "tcp://" and the port.
bool read_bind(const kelnou::Properties& properties, const char* key, std::string& bind) {
    bind = properties.getString(key, "*");
    if (!bind.empty() && bind.find_first_of(":/[] \t\r") == std::string::npos) return true;
    report(std::string(key) + " must be * or one interface's address or name (read \"" + bind +
           "\")");
    return false;
}

// A day at most: longer would tell an operator nothing, and the document's
// validity and the timer stay far from any overflow.
constexpr std::int64_t kLongestStatsInterval = 86400;

bool read_stats_interval(const kelnou::Properties& properties, int& seconds) {
    const char* key = "kelno.stats.interval";
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    const auto value = parse_whole_number(text, 0);
    if (!value || *value > kLongestStatsInterval) {
        report(std::string(key) + " must be a whole number of seconds from 0 (off) to " +
               std::to_string(kLongestStatsInterval) + " (read \"" + text + "\")");
        return false;
    }
    seconds = static_cast<int>(*value);
    return true;
}

}  // namespace

std::optional<std::int64_t> parse_whole_number(const char* text, std::int64_t minimum) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < minimum) return std::nullopt;
    return value;
}

bool read_flag(const kelnou::Properties& properties, const char* key, bool& flag) {
    const std::string text = properties.getString(key, "false");
    if (text != "true" && text != "false") {
        report(std::string(key) + " must be true or false (read \"" + text + "\")");
        return false;
    }
    flag = text == "true";
    return true;
}

void print_usage() {
    report("kelnod takes one optional argument. The config file path.");
    report("kelnod [config file]");
}

std::string run_script(std::string command) {
    struct PipeCloser {
        void operator()(FILE* stream) const { pclose(stream); }
    };
    std::unique_ptr<FILE, PipeCloser> output(popen(command.c_str(), "r"));
    if (!output) throw kelnou::GeneralException("Failed to read script output");

    char line[100];
    if (fgets(line, sizeof(line), output.get()) == nullptr) {
        throw kelnou::GeneralException("Failed to read script output");
    }
    std::string text(line);
    drop_line_break(text);
    return text;
}

std::optional<Settings> read_settings(const std::string& path) {
    kelnou::Properties properties;
    if (!properties.load(path.c_str())) {
        print_usage();
        return std::nullopt;
    }

    Settings settings;
    settings.channeler_port = properties.getInt("kelno.channeler.port", 5555);
    settings.broadcaster_port = properties.getInt("kelno.broadcaster.port", 5556);

    if (const char* remote = properties.getString("kelno.forwarder.remote", nullptr)) {
        settings.forwarder_remotes.push_back(resolve_script(remote));
    }

    const char* node_name = properties.getString("kelno.node_name", nullptr);
    if (node_name == nullptr) {
        report("Kelno config needs kelno.node_name");
        return std::nullopt;
    }
    settings.node_name = resolve_script(node_name);

    settings.inbox_interval = properties.getInt("kelno.inbox_interval", 2);
    if (!read_send_queues(properties, settings.send_queues)) return std::nullopt;
    if (!read_max_message_size(properties, settings.max_message_size)) return std::nullopt;
    if (!read_store(properties, settings.store)) return std::nullopt;
    if (!read_bind(properties, "kelno.channeler.bind", settings.channeler_bind) ||
        !read_bind(properties, "kelno.broadcaster.bind", settings.broadcaster_bind) ||
        !read_security_settings(properties, !settings.forwarder_remotes.empty(),
                                settings.security)) {
        return std::nullopt;
    }
    if (!read_stats_interval(properties, settings.stats_interval)) return std::nullopt;
    if (!read_chain_settings(properties, settings.chain)) return std::nullopt;
    settings.store.chain_tables = settings.chain.reliable;
    return settings;
}

void print_startup(const Settings& settings) {
    say("Starting kelnod. Name: " + settings.node_name + " Ports: [" +
        std::to_string(settings.channeler_port) + "] [" +
        std::to_string(settings.broadcaster_port) + "] ");
    for (const auto& remote : settings.forwarder_remotes) say("Forwarder: " + remote);
    say("Inbox interval set to: " + std::to_string(settings.inbox_interval) + " seconds.");
    print_security_startup(settings);
    const std::string chain_line = chain_startup_line(settings.chain);
    if (!chain_line.empty()) say(chain_line);
    if (settings.stats_interval > 0) {
        say("Statistics every " + std::to_string(settings.stats_interval) +
            " seconds on kelno.stats.");
    }
}

}  // namespace kelnod
