#pragma once

#include <optional>
#include <string>

namespace cplt {

// CURVE key material as ZeroMQ handles it: a key is 32 bytes, written as 40
// characters of Z85 text in files and settings.

// Whether this libzmq was built with CURVE (zmq_has("curve")).
bool curve_available();

struct CurveKeyPair {
    std::string public_key;  // Z85, 40 characters
    std::string secret_key;  // Z85, 40 characters
};

// A fresh key pair; cplt::ZmqError when libzmq cannot make one (no CURVE).
CurveKeyPair generate_curve_key_pair();

// The 32 bytes of a 40-character Z85 key, or nothing when `z85` is not one.
std::optional<std::string> curve_key_bytes(const std::string& z85);

// The Z85 text of a 32-byte key.
std::string curve_key_text(const std::string& bytes);

// The public key that belongs to a Z85 secret key, or nothing when `secret`
// is not a key.
std::optional<std::string> curve_public_key(const std::string& secret);

}  // namespace cplt
