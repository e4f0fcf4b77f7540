#include "MalformedFrames.hpp"

#include <cctype>

namespace kelno_test {

namespace {

const std::string& D = delimiter;

std::string missing(const std::string& section) {
    return "Expected more frames. Next section: " + section;
}

std::string decode_line(const std::string& command = "") {
    return "While trying to decode a received request" +
           (command.empty() ? std::string() : " (" + command + ")");
}

const std::string routes_line = "While trying to receive routes of request";
const std::string headers_line = "While trying to receive headers";
const std::string protocol_headers_line = "While trying to receive protocol headers of request";
const std::string payload_line = "While trying to receive payload";
const std::string termination_line = "While trying to receive termination delimiter";
const std::string missing_key =
    "Payload detected but provided protocol headers have missing key. Missing key is: ";

Frames message_headers_announcing(const std::string& size) {
    return {D,
            "MSG",
            "ack_mode|1",
            "app_id|app1",
            "id|x",
            "origin|,",
            "p_size|" + size,
            "p_type|text",
            "valid_for|20",
            D};
}

// A whole message of one route whose header `name` reads `value`.
Frames message_with(const std::string& name, const std::string& value) {
    Frames frames = {"nodeB", D,          "MSG",      "ack_mode|1",  "app_id|app1",
                     "id|x",  "origin|,", "p_size|5", "p_type|text", "valid_for|20",
                     D,       "hello"};
    for (auto& frame : frames) {
        if (frame.rfind(name + "|", 0) == 0) frame = name + "|" + value;
    }
    return frames;
}

Frames concat(Frames frames, const Frames& tail) {
    frames.insert(frames.end(), tail.begin(), tail.end());
    return frames;
}

std::string header_format_error(const std::string& frame) {
    return "Headers formatted incorrectly in request. No \"|\" found in \"" + frame + "\"";
}

std::string size_mismatch(const std::string& expected, const std::string& received) {
    return "Payload size does not match \"p_size\". Expected " + expected + " bytes, received " +
           received;
}

std::string size_out_of_range(const std::string& size) {
    return "Payload size in \"p_size\" is out of range: " + size +
           ". Largest allowed is 4294967295";
}

std::vector<MalformedFrames> build() {
    return {
        {"message ends inside the routes",
         {"nodeA"},
         missing("Route delimiter frame"),
         {routes_line, decode_line()}},
        {"message ends after a second route",
         {"nodeA", std::string(150, 'n')},
         missing("Route delimiter frame"),
         {routes_line, decode_line()}},
        {"message of one empty frame",
         {""},
         missing("Route delimiter frame"),
         {routes_line, decode_line()}},
        {"message ends after the routes", {D}, missing("Request/Command name"), {decode_line()}},
        {"message ends after a route and its delimiter",
         {"route", D},
         missing("Request/Command name"),
         {decode_line()}},
        {"message ends after the command",
         {D, "MSG"},
         missing("Headers"),
         {headers_line, protocol_headers_line, decode_line("MSG")}},
        {"message ends inside the headers",
         {D, "BOX", "app_id|a"},
         missing("Header delimiter"),
         {headers_line, protocol_headers_line, decode_line("BOX")}},
        {"header frame without separator",
         {D, "ACK", "msg_id", D, D},
         header_format_error("msg_id"),
         {headers_line, protocol_headers_line, decode_line("ACK")}},
        {"zero byte before the separator",
         {D, "ACK", std::string("msg\0|id", 7), D, D},
         // peer bytes are quoted escaped, so the zero byte cannot cut the text
         header_format_error("msg\\x00|id"),
         {headers_line, protocol_headers_line, decode_line("ACK")}},
        {"long header frame without separator",
         {D, "ACK", std::string(250, 'h'), D, D},
         header_format_error(std::string(250, 'h')),
         {headers_line, protocol_headers_line, decode_line("ACK")}},
        {"very long route and header frame without separator",
         {std::string(5000, 'r'), D, "MSG", std::string(300, 'h'), D, "x"},
         // a long quote is cut short
         header_format_error(std::string(255, 'h') + "... (300 bytes)"),
         {headers_line, protocol_headers_line, decode_line("MSG")}},
        {"unknown command",
         {D, "PING", D, D},
         "Unrecognised command name: PING",
         {decode_line("PING")}},
        {"command names are case-sensitive",
         {D, "msg", D, "x"},
         "Unrecognised command name: msg",
         {decode_line("msg")}},
        {"long unknown command",
         {D, std::string(150, 'C'), D, D},
         "Unrecognised command name: " + std::string(150, 'C'),
         {decode_line(std::string(150, 'C'))}},
        {"empty command", {D, "", D, D}, "Unrecognised command name: ", {decode_line()}},
        {"no payload frame",
         message_headers_announcing("5"),
         missing("Payload"),
         {payload_line, decode_line("MSG")}},
        {"p_size missing",
         {D, "REG", "p_type|JSON", D, "{}"},
         missing_key + "p_size",
         {payload_line, decode_line("REG")}},
        {"p_type missing",
         {D, "REG", "p_size|2", D, "{}"},
         missing_key + "p_type",
         {payload_line, decode_line("REG")}},
        {"frames after the payload",
         {D, "REG", "p_size|2", "p_type|JSON", D, "{}", "x", "y"},
         "We don't expect more frames after the payload",
         {payload_line, decode_line("REG")}},
        {"no termination frame",
         {D, "GREG", D},
         missing("Termination frame"),
         {termination_line, decode_line("GREG")}},
        {"termination frame is not a delimiter",
         {D, "ACK", "msg_id|1", D, "x"},
         "Expected a delimiter frame for termination",
         {termination_line, decode_line("ACK")}},
        {"termination frame of two zero bytes",
         {D, "BOX", "app_id|a", "box_type|clnt", D, std::string(2, '\0')},
         "Expected a delimiter frame for termination",
         {termination_line, decode_line("BOX")}},
        {"request without its header",
         {D, "ACK", D, D},
         "Expected \"msg_id\" header.",
         {"While trying to decode headers for Ack", decode_line("ACK")}},
        {"message without its id",
         {D, "MSG", "p_size|1", "p_type|t", D, "x"},
         "Expected \"id\" header.",
         {"While trying to decode protocol headers for Message", decode_line("MSG")}},
        {"inbox type in capitals",
         {D, "BOX", "app_id|a", "box_type|CLNT", D, D},
         "Unknown inbox type specified in headers... CLNT",
         {"While trying to decode headers for Inbox", decode_line("BOX")}},
        {"registry query with a header",
         {D, "GREG", "extra|header", D, D},
         "Did not expect more headers for request \"GREG\". Unexpected headers are: "
         "(extra|header)",
         {"While trying to decode headers for GetRegistry request", decode_line("GREG")}},
        {"acknowledgement with a header too many",
         {D, "ACK", "msg_id|x", "extra|1", D, D},
         "Did not expect more headers for request \"ACK\". Unexpected headers are: (extra|1)",
         {"While trying to decode headers for Ack", decode_line("ACK")}},
        {"non-numeric ack_mode",
         message_with("ack_mode", "x"),
         "Ack mode is incorrect for Message. Logic error: stoi",
         {"While trying to decode protocol headers for Message", decode_line("MSG")}},
        // The payload frame must be exactly as long as announced.
        {"payload shorter than p_size",
         concat(message_headers_announcing("5"), {"abc"}),
         size_mismatch("5", "3"),
         {payload_line, decode_line("MSG")}},
        {"payload longer than p_size",
         concat(message_headers_announcing("1"), {"abc"}),
         size_mismatch("1", "3"),
         {payload_line, decode_line("MSG")}},
        {"4 GiB announced for ten bytes",
         concat(message_headers_announcing("4294967295"), {"0123456789"}),
         size_mismatch("4294967295", "10"),
         {payload_line, decode_line("MSG")}},
        {"size mismatch with frames after the payload",
         {D, "REG", "p_size|5", "p_type|JSON", D, "{}", "x"},
         size_mismatch("5", "2"),
         {payload_line, decode_line("REG")}},
        {"p_size beyond 32 bits",
         concat(message_headers_announcing("4294967296"), {"x"}),
         size_out_of_range("4294967296"),
         {payload_line, decode_line("MSG")}},
        {"negative p_size",
         {D, "REG", "p_size|-1", "p_type|JSON", D, "x"},
         size_out_of_range("18446744073709551615"),
         {payload_line, decode_line("REG")}},
        // Standard conversion errors, passed through as they are.
        {"non-numeric p_size",
         {D, "REG", "p_size|two", "p_type|JSON", D, "{}"},
         "stoull",
         {},
         true},
        {"p_size beyond 64 bits",
         message_with("p_size", "999999999999999999999"),
         "stoull",
         {},
         true},
        {"non-numeric valid_for",
         {D, "MSG", "ack_mode|1", "app_id|a", "id|x", "origin|,", "p_size|2", "p_type|t",
          "valid_for|soon", D, "hi"},
         "stoll",
         {},
         true},
        {"valid_for beyond 64 bits",
         message_with("valid_for", "99999999999999999999"),
         "stoll",
         {},
         true},
    };
}

}  // namespace

const std::vector<MalformedFrames>& malformed_frames() {
    static const std::vector<MalformedFrames> cases = build();
    return cases;
}

std::string seed_name(const std::string& name) {
    std::string seed;
    for (unsigned char c : name) seed += std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '_';
    return seed;
}

}  // namespace kelno_test
