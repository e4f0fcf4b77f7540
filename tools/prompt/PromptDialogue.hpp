#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// Sends one typed message line to the routes typed before it.
using SendText = std::function<void(std::vector<std::string> routes, const std::string& text)>;

extern const char* const prompt_greeting;

// The console dialogue of kelno_prompt. Each pass asks for routes (ended by an
// empty line) and then for one message line, which it hands to `send_text`.
// It ends at "EXIT" or at the end of the input, writing "We are quiting.".
// An exception (from `send_text`) leaves it without that line.
void run_prompt(std::istream& in, std::ostream& out, const SendText& send_text);
