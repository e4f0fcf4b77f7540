#pragma once

#include <string>

#include <cplt/Curve.hpp>

namespace kelnod {

// A node's CURVE key pair lives in a properties file of its own:
//   public_key=<40 characters of Z85>
//   secret_key=<40 characters of Z85>
// It must be private to its owner, for whoever reads the secret key can speak
// as this node. Only whole lines are comments: '#' is a Z85 digit.

// Reads and checks a key file. kelnou::GeneralException naming the file and
// what is wrong when it cannot be read, a key is missing or malformed, the
// public key does not belong to the secret key, or group or others may read it.
cplt::CurveKeyPair read_key_file(const std::string& path);

// `kelnod --generate-keys FILE`: writes a fresh pair to a new file that only
// its owner may read, prints the public key and returns 0; an existing file is
// never overwritten. The public key never holds '#', so that it can be written
// in a configuration file. On failure: a report and 1.
int generate_key_file(const std::string& path);

}  // namespace kelnod
