#pragma once

#include <string>
#include <vector>

namespace kelno_test {

// One message as kelno_mirror_json prints it.
struct MirrorBlock {
    std::string message_id;
    std::string app_id;
    std::string valid_for;       // the text after "Valid For:"
    std::string payload_length;  // as printed
    std::string payload_type;
    std::string contents;  // the lines after "Payload contents: ", each with its newline
};

// The complete blocks in a mirror's output, in order. A block whose lines do
// not read exactly as the mirror writes them fails the calling test.
std::vector<MirrorBlock> mirror_blocks(const std::string& output);

// The blocks for one application id.
std::vector<MirrorBlock> mirror_blocks_of(const std::string& output, const std::string& app_id);

}  // namespace kelno_test
