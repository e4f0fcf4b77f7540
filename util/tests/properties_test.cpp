#include <kelnou/Properties.hpp>

#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.hpp"

namespace {

using kelnou::Properties;

class PropertiesFile : public ::testing::Test {
protected:
    // Loads `content` as a file into `props`; fails the test when load says no.
    void load(const std::string& content) {
        const std::string path = dir.write("kelno.conf", content);
        ASSERT_TRUE(props.load(path.c_str()));
    }

    // The stored value, or "<absent>" so absence shows in a comparison.
    std::string value(const char* key) const {
        const char* text = props.getString(key, nullptr);
        return text ? text : "<absent>";
    }

    kelno_test::TempDir dir;
    Properties props;
};

TEST_F(PropertiesFile, LineRules) {
    struct Case {
        const char* content;
        const char* key;
        std::string expected;
    };
    const Case cases[] = {
        {"k=1\nk=2\n", "k", "1"},                // the first definition wins
        {"x==y\n", "x", "=y"},                   // split at the first "="
        {"=v\n", "", "v"},                       // empty key
        {"e=\n", "e", ""},                       // empty value
        {"noequals\n", "noequals", "<absent>"},  // no "=": skipped
        {"#a=b\n", "#a", "<absent>"},            // comment line
        {"#a=b\n", "a", "<absent>"},
        {"a=b#c\n", "a", "b"},                 // "#" cuts values
        {"name=abc #note\n", "name", "abc "},  // blanks before "#" stay
        {"k = v\n", "k ", " v"},               // nothing is trimmed
        {"k = v\n", "k", "<absent>"},
        {"\tt=1\n", "\tt", "1"},
        {"cr=v\r\n", "cr", "v\r"},     // a carriage return stays
        {"a=1\nlast=2", "last", "2"},  // no final newline
        {"  #x=1\nk=v\n", "k", "v"},   // blanks then "#": skipped
        {"a=1#x=2\nx=3\n", "x", "3"},  // a cut value defines nothing else
        {"\n\nk=v\n\n", "k", "v"},     // empty lines are skipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        load(c.content);
        EXPECT_EQ(value(c.key), c.expected);
    }
}

TEST_F(PropertiesFile, EveryLoadReplacesTheContents) {
    load("a=1\nb=2\n");
    load("b=3\n");
    EXPECT_EQ(value("a"), "<absent>");
    EXPECT_EQ(value("b"), "3");
    load("");
    EXPECT_EQ(value("b"), "<absent>");
}

TEST_F(PropertiesFile, LongLinesAreReadWholeAndReadingGoesOn) {
    const std::string long_value(5000, 'v');
    load("first=1\n" + std::string("long=") + long_value + "\n" + std::string(300, 'c') +
         "\nafter=2\n");
    EXPECT_EQ(value("first"), "1");
    EXPECT_EQ(value("long"), long_value);
    EXPECT_EQ(value("after"), "2");
}

// A directory opens as a stream on Linux but holds no lines: reporting it as a
// loaded, empty file would hide a wrong path behind every default.
TEST_F(PropertiesFile, UnopenableFileIsReportedAndKeepsTheOldContents) {
    load("kept=yes\n");
    for (const std::string& unreadable : {dir.path() + "/missing.conf", dir.path()}) {
        SCOPED_TRACE(unreadable);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(props.load(unreadable.c_str()));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Failed to load input file " + unreadable + "\n");
        EXPECT_EQ(value("kept"), "yes");
    }
}

TEST_F(PropertiesFile, GetStringReturnsTheDefaultPointerForAnAbsentKey) {
    load("a=1\n");
    const char* fallback = "fallback";
    EXPECT_EQ(props.getString("A", fallback), fallback);  // keys are case-sensitive
    EXPECT_STREQ(props.getString("a", fallback), "1");
}

TEST_F(PropertiesFile, GetIntFollowsStrtolAndClampsToInt) {
    load(
        "abc=abc\n"
        "lead= 42x\n"
        "neg=-17\n"
        "plus=+5\n"
        "empty=\n"
        "huge=99999999999999999999\n"
        "big=3000000000\n"
        "small=-3000000000\n"
        "max=2147483647\n");
    struct Case {
        const char* key;
        int expected;
    };
    const Case cases[] = {
        {"abc", 0},        {"lead", 42},     {"neg", -17},       {"plus", 5},      {"empty", 0},
        {"huge", INT_MAX}, {"big", INT_MAX}, {"small", INT_MIN}, {"max", INT_MAX}, {"absent", -99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(props.getInt(c.key, -99), c.expected) << c.key;
    }
}

}  // namespace
