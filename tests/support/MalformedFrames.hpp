#pragma once

#include <string>
#include <vector>

#include "RawPeer.hpp"

namespace kelno_test {

// One request that breaks the protocol, as a peer writes it, and what
// kelnom::Receiver says about it. One table serves the framing tests (the text
// and trace), the daemon tests (each is reported and the next request served)
// and the receiver's fuzz seeds, so all three see the same cases.
struct MalformedFrames {
    std::string name;  // readable; seed_name() turns it into a file name
    Frames frames;     // one ZeroMQ message, without the identity a ROUTER adds
    std::string text;  // the error's text
    // Context lines in the order the Receiver adds them; empty for a standard
    // conversion error, which passes through unchanged.
    std::vector<std::string> context;
    bool conversion = false;  // a standard conversion error, not a ProtocolError
};

const std::vector<MalformedFrames>& malformed_frames();

// `name` in lower case, with every other character than a letter or digit
// made '_'.
std::string seed_name(const std::string& name);

}  // namespace kelno_test
