#include "MirrorBlocks.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace kelno_test {

namespace {

const std::string block_start = "===== Received Message =====";

// The rest of `line` after `prefix`; records a failure when it does not start so.
std::string after(const std::string& line, const std::string& prefix) {
    EXPECT_EQ(line.rfind(prefix, 0), 0u)
        << "expected a line starting with \"" << prefix << "\", got \"" << line << "\"";
    return line.size() >= prefix.size() ? line.substr(prefix.size()) : std::string();
}

}  // namespace

std::vector<MirrorBlock> mirror_blocks(const std::string& output) {
    std::vector<MirrorBlock> blocks;
    // Every block ends with an empty line; what follows the last one is still
    // being written.
    const auto last_end = output.rfind("\n\n");
    std::istringstream in(last_end == std::string::npos ? std::string()
                                                        : output.substr(0, last_end + 2));
    std::string line;
    while (std::getline(in, line)) {
        if (line != block_start) continue;
        MirrorBlock block;
        std::string header[6];
        for (auto& text : header) std::getline(in, text);
        block.message_id = after(header[0], "Message Id: ");
        block.app_id = after(header[1], "Application id: ");
        block.valid_for = after(header[2], "Valid For:");
        block.payload_length = after(header[3], "Payload length: ");
        block.payload_type = after(header[4], "Payload type: ");
        EXPECT_EQ(header[5], "Payload contents: ");
        // The contents end at the empty line that closes the block.
        while (std::getline(in, line) && !line.empty()) block.contents += line + "\n";
        blocks.push_back(block);
    }
    return blocks;
}

std::vector<MirrorBlock> mirror_blocks_of(const std::string& output, const std::string& app_id) {
    std::vector<MirrorBlock> selected;
    for (auto& block : mirror_blocks(output)) {
        if (block.app_id == app_id) selected.push_back(block);
    }
    return selected;
}

}  // namespace kelno_test
