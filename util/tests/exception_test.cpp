#include <kelnou/Exception.hpp>

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using kelnou::GeneralException;

TEST(ExceptionMessage, ContextLinesNewestFirstThenWhatText) {
    struct Case {
        std::vector<std::string> lines;  // in the order they are added
        std::string expected;
    };
    const Case cases[] = {
        {{}, "three"},
        {{"one"}, "one. three"},
        {{"one", "two"}, "two. one. three"},
        {{"", "x"}, "x. . three"},
    };
    for (const auto& c : cases) {
        GeneralException e("three");
        for (const auto& line : c.lines) {
            e.addContext(line);
        }
        EXPECT_EQ(e.generateMessage(), c.expected);
        EXPECT_EQ(e.contextTrace(), c.lines) << "the trace keeps the order of adding";
    }
}

TEST(ExceptionMessage, BaseClassWithoutTextGivesOnlyTheContext) {
    kelnou::Exception e;
    EXPECT_EQ(e.what(), nullptr);
    EXPECT_EQ(e.generateMessage(), "");
    e.addContext("While trying to work");
    EXPECT_EQ(e.generateMessage(), "While trying to work. ");
}

// A derived class, to see that rethrowing does not slice the exception.
class DerivedError : public GeneralException {
public:
    using GeneralException::GeneralException;
};

TEST(ExceptionContext, ThrowWithContextRethrowsTheCaughtObject) {
    const void* thrown_object = nullptr;
    try {
        try {
            throw DerivedError("cause");
        } catch (kelnou::Exception& e) {
            thrown_object = &e;
            e.throwWithContext("While trying to read");
        }
    } catch (DerivedError& e) {
        EXPECT_EQ(&e, thrown_object);
        EXPECT_EQ(e.generateMessage(), "While trying to read. cause");
        return;
    }
    FAIL() << "the derived type was lost";
}

TEST(ExceptionContext, WithContextAddsItsLineOnlyToOurExceptions) {
    EXPECT_EQ(kelnou::with_context("unused", [] { return 7; }), 7);

    try {
        kelnou::with_context("While trying to outer", [] {
            kelnou::with_context("While trying to inner", [] { throw DerivedError("cause"); });
        });
        FAIL() << "nothing thrown";
    } catch (const DerivedError& e) {
        EXPECT_EQ(e.generateMessage(), "While trying to outer. While trying to inner. cause");
    }

    EXPECT_THROW(kelnou::with_context("unused", [] { throw std::out_of_range("stoll"); }),
                 std::out_of_range);
}

}  // namespace
