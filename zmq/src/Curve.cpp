#include "cplt/Curve.hpp"

#include <cstdint>

#include <zmq.h>

#include "cplt/Exception.hpp"

namespace cplt {

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kKeyText = 40;

}  // namespace

bool curve_available() { return zmq_has("curve") != 0; }

CurveKeyPair generate_curve_key_pair() {
    char public_key[kKeyText + 1];
    char secret_key[kKeyText + 1];
    check_result(zmq_curve_keypair(public_key, secret_key),
                 "While trying to generate a CURVE key pair");
    return {std::string(public_key, kKeyText), std::string(secret_key, kKeyText)};
}

std::optional<std::string> curve_key_bytes(const std::string& z85) {
    if (z85.size() != kKeyText) return std::nullopt;
    std::uint8_t bytes[kKeyBytes];
    if (zmq_z85_decode(bytes, z85.c_str()) == nullptr) return std::nullopt;
    // zmq_z85_decode takes any byte as a digit; only its own alphabet is a key,
    // so the text must come back unchanged.
    std::string key(reinterpret_cast<const char*>(bytes), kKeyBytes);
    if (curve_key_text(key) != z85) return std::nullopt;
    return key;
}

std::string curve_key_text(const std::string& bytes) {
    if (bytes.size() != kKeyBytes) return {};
    char text[kKeyText + 1];
    zmq_z85_encode(text, reinterpret_cast<const std::uint8_t*>(bytes.data()), kKeyBytes);
    return std::string(text, kKeyText);
}

std::optional<std::string> curve_public_key(const std::string& secret) {
    if (!curve_key_bytes(secret)) return std::nullopt;
    char public_key[kKeyText + 1];
    if (zmq_curve_public(public_key, secret.c_str()) != 0) return std::nullopt;
    return std::string(public_key, kKeyText);
}

}  // namespace cplt
