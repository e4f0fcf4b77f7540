#pragma once

#include <optional>
#include <string>

#include <cplt/Curve.hpp>

namespace kelnou {
class Properties;
}

namespace kelnod {

struct Settings;

// CURVE between nodes; all off unless set.
struct SecuritySettings {
    std::optional<int> secure_port;          // kelno.secure.port
    std::optional<cplt::CurveKeyPair> own_keys;  // read from kelno.secure.key_file
    std::string authorized_keys_path;        // kelno.secure.authorized_keys; empty: none named
    std::optional<std::string> upstream_server_key;  // kelno.forwarder.server_key, Z85
};

// Reads and checks the settings, reading the key file. False after reporting
// why: a bad value, a setting that needs another one, no CURVE in libzmq, or
// a key file that read_key_file refuses.
bool read_security_settings(const kelnou::Properties& properties, bool has_upstream,
                            SecuritySettings& security);

// The start-up lines for what is bound where and secured how; nothing with
// the defaults. Warns when the secure port is used while the plaintext
// channeler still listens on every interface.
void print_security_startup(const Settings& settings);

}  // namespace kelnod
