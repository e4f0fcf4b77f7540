#include "SecuritySettings.hpp"

#include <kelnou/Exception.hpp>
#include <kelnou/Properties.hpp>

#include "Console.hpp"
#include "KeyFile.hpp"
#include "Settings.hpp"

namespace kelnod {

namespace {

bool read_port(const kelnou::Properties& properties, std::optional<int>& port) {
    const char* key = "kelno.secure.port";
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    const auto value = parse_whole_number(text, 1);
    if (!value || *value > 65535) {
        report(std::string(key) + " must be a TCP port, 1 to 65535 (read \"" + text + "\")");
        return false;
    }
    port = static_cast<int>(*value);
    return true;
}

bool read_server_key(const kelnou::Properties& properties, std::optional<std::string>& server_key) {
    const char* key = "kelno.forwarder.server_key";
    const char* text = properties.getString(key, nullptr);
    if (text == nullptr) return true;
    if (!cplt::curve_key_bytes(text)) {
        report(std::string(key) +
               " must be the upstream node's public key, 40 characters of Z85 text (read \"" +
               text + "\"; '#' starts a comment here, so a key holding it cannot be set: make "
               "the upstream node a new pair with kelnod --generate-keys)");
        return false;
    }
    server_key = text;
    return true;
}

}  // namespace

bool read_security_settings(const kelnou::Properties& properties, bool has_upstream,
                            SecuritySettings& security) {
    if (!read_port(properties, security.secure_port)) return false;
    if (!read_server_key(properties, security.upstream_server_key)) return false;
    const char* key_file = properties.getString("kelno.secure.key_file", nullptr);
    security.authorized_keys_path = properties.getString("kelno.secure.authorized_keys", "");

    const bool uses_curve = security.secure_port || security.upstream_server_key;
    if (uses_curve && !cplt::curve_available()) {
        report("kelno.secure.port and kelno.forwarder.server_key need CURVE, which this libzmq "
               "was built without");
        return false;
    }
    if (uses_curve && key_file == nullptr) {
        report(std::string(security.secure_port ? "kelno.secure.port" : "kelno.forwarder.server_key") +
               " needs this node's key pair: set kelno.secure.key_file (kelnod --generate-keys "
               "FILE makes one)");
        return false;
    }
    if (security.upstream_server_key && !has_upstream) {
        report("kelno.forwarder.server_key needs kelno.forwarder.remote");
        return false;
    }
    if (key_file != nullptr) {
        try {
            security.own_keys = read_key_file(key_file);
        } catch (const kelnou::Exception& error) {
            report("kelno.secure.key_file: " + error.generateMessage());
            return false;
        }
    }
    return true;
}

void print_security_startup(const Settings& settings) {
    if (settings.channeler_bind != "*" || settings.broadcaster_bind != "*") {
        say("Channeler bound to " + settings.channeler_bind + ", broadcaster bound to " +
            settings.broadcaster_bind);
    }
    const SecuritySettings& security = settings.security;
    if (security.secure_port) {
        say("Secure port: [" + std::to_string(*security.secure_port) +
            "] CURVE, public key " + security.own_keys->public_key);
        if (settings.channeler_bind == "*") {
            report("kelno.channeler.bind is *: peers can still reach the plaintext channeler "
                   "from the network, without a key; bind it to 127.0.0.1");
        }
    }
    if (security.upstream_server_key) {
        say("Forwarder over CURVE, server key " + *security.upstream_server_key);
    }
}

}  // namespace kelnod
