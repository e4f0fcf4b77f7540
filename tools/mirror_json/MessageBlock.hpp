#pragma once

#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include <kelnom/Message.hpp>
#include <kelnom/Payload.hpp>

// Deeper documents are shown as unknown data: printing walks the document
// recursively, so a small payload of nested brackets could exhaust the stack.
constexpr int max_printed_json_depth = 512;

// The payload as exactly one JSON value; nothing when it is not JSON or is
// nested deeper than max_printed_json_depth.
std::optional<nlohmann::json> parse_json_payload(const kelnom::Payload& payload);

// Writes the block of one delivered message: its headers, the payload as
// indented JSON (or "<Unknown data>"), and an empty line. Each line is flushed.
void print_message_block(std::ostream& out, const kelnom::Message& message);
