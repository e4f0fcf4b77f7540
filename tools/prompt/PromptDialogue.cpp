#include "PromptDialogue.hpp"

#include <utility>

const char* const prompt_greeting =
    "Send a message on the KelnoBus! First enter the routes (the node name to send to) and then "
    "\"\" to end routes. Then type a friendly message. Type EXIT to exit.";

namespace {

const std::string exit_command = "EXIT";

// One pass of the prompt; false when the prompt is to end. The end of the
// input counts as EXIT, so a script or pipe can drive the prompt.
bool run_pass(std::istream& in, std::ostream& out, const SendText& send_text) {
    out << prompt_greeting << std::endl;
    out << "Route > " << std::flush;
    std::string line;
    if (!std::getline(in, line)) return false;

    std::vector<std::string> routes;
    while (line != exit_command && !line.empty()) {
        routes.push_back(line);
        out << "Route > " << std::flush;
        if (!std::getline(in, line)) return false;
        out << line << std::endl;  // every route line after the first is echoed
    }
    if (line == exit_command) return false;  // the routes of this pass are dropped

    out << "Message > " << std::flush;
    if (!std::getline(in, line) || line == exit_command) return false;
    send_text(std::move(routes), line);
    return true;
}

}  // namespace

void run_prompt(std::istream& in, std::ostream& out, const SendText& send_text) {
    while (run_pass(in, out, send_text)) {
    }
    out << "We are quiting." << std::endl;
}
