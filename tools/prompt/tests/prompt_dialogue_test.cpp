#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PromptDialogue.hpp"

namespace {

struct Sent {
    std::vector<std::string> routes;
    std::string text;
    bool operator==(const Sent& other) const {
        return routes == other.routes && text == other.text;
    }
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
    out << "{";
    for (const auto& route : sent.routes) out << "[" << route << "]";
    return out << " -> [" << sent.text << "]}";
}

const std::string greeting = std::string(prompt_greeting) + "\n";
const std::string quit = "We are quiting.\n";

TEST(PromptDialogue, GreetingIsTheLineUsersKnow) {
    EXPECT_EQ(std::string(prompt_greeting).size(), 157u);
    EXPECT_NE(std::string(prompt_greeting).find(" and then \"\" to end routes. "),
              std::string::npos);
}

TEST(PromptDialogue, RoutesMessagesEchoesAndTheWaysToEnd) {
    const struct {
        const char* what;
        std::string input;
        std::string output;
        std::vector<Sent> sent;
    } cases[] = {
        {"EXIT at the first route", "EXIT\nhello\n", greeting + "Route > " + quit, {}},
        {"empty route list",
         "\nhello\nEXIT\n",
         greeting + "Route > Message > " + greeting + "Route > " + quit,
         {{{}, "hello"}}},
        {"routes after the first are echoed, the empty line too",
         "a\nb\n\nhi\nEXIT\n",
         greeting + "Route > Route > b\nRoute > \nMessage > " + greeting + "Route > " + quit,
         {{{"a", "b"}, "hi"}}},
        {"EXIT after a route drops the pass",
         "a\nEXIT\n",
         greeting + "Route > Route > EXIT\n" + quit,
         {}},
        {"EXIT at the message drops the pass",
         "a\n\nEXIT\n",
         greeting + "Route > Route > \nMessage > " + quit,
         {}},
        {"only EXIT exactly is the command",
         "exit\nEXIT \n\nexit\n\nEXIT \nEXIT\n",
         greeting + "Route > Route > EXIT \nRoute > \nMessage > " + greeting +
             "Route > Message > " + greeting + "Route > " + quit,
         {{{"exit", "EXIT "}, "exit"}, {{}, "EXIT "}}},
        {"end of input at the first route", "", greeting + "Route > " + quit, {}},
        {"end of input after a route", "a\n", greeting + "Route > Route > " + quit, {}},
        {"end of input at the message", "\n", greeting + "Route > Message > " + quit, {}},
        {"a last line without newline is still sent",
         "\nbye",
         greeting + "Route > Message > " + greeting + "Route > " + quit,
         {{{}, "bye"}}},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream out;
        std::vector<Sent> sent;
        run_prompt(in, out, [&sent](std::vector<std::string> routes, const std::string& text) {
            sent.push_back({std::move(routes), text});
        });
        EXPECT_EQ(out.str(), c.output) << c.what;
        EXPECT_EQ(sent, c.sent) << c.what;
    }
}

TEST(PromptDialogue, FailedSendEndsThePromptWithoutTheQuitLine) {
    std::istringstream in("\nhello\n\nagain\n");
    std::ostringstream out;
    int calls = 0;
    EXPECT_THROW(run_prompt(in, out,
                            [&calls](std::vector<std::string>, const std::string&) {
                                ++calls;
                                throw std::runtime_error("queue broken");
                            }),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(out.str().find("We are quiting."), std::string::npos);
}

}  // namespace
