// kelnod's kelno.store.* settings: a bad value is a configuration error
// (status 1, one clear line); good ones are accepted.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "FreePort.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

struct BadSetting {
    const char* name;
    const char* line;
    const char* error;
};

void PrintTo(const BadSetting& c, std::ostream* out) { *out << c.name; }

class StoreSettingRefused : public testing::TestWithParam<BadSetting> {};

TEST_P(StoreSettingRefused, EndsTheDaemonWithStatusOne) {
    TempDir dir;
    const std::string config = dir.write(
        "kelnod.conf", "kelno.node_name=n\nkelno.channeler.port=" + std::to_string(free_port()) +
                           "\nkelno.broadcaster.port=" + std::to_string(free_port()) + "\n" +
                           GetParam().line + "\n");
    ChildProcess kelnod({kelnod_path(), config});
    EXPECT_EQ(kelnod.waitExit(), 1);
    EXPECT_EQ(kelnod.err(), std::string(GetParam().error) + "\n");
    EXPECT_EQ(kelnod.out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoreSettingRefused,
    testing::Values(
        BadSetting{"MaxMessagesZero", "kelno.store.max_messages=0",
                   "kelno.store.max_messages must be a whole number of messages, at least 1 "
                   "(read \"0\")"},
        BadSetting{"MaxMessagesNegative", "kelno.store.max_messages=-5",
                   "kelno.store.max_messages must be a whole number of messages, at least 1 "
                   "(read \"-5\")"},
        BadSetting{"MaxBytesWithAUnit", "kelno.store.max_bytes=64M",
                   "kelno.store.max_bytes must be a whole number of payload bytes, at least 1 "
                   "(read \"64M\")"},
        BadSetting{"MaxBytesEmpty", "kelno.store.max_bytes=",
                   "kelno.store.max_bytes must be a whole number of payload bytes, at least 1 "
                   "(read \"\")"},
        BadSetting{"MaxBytesAbove64Bits", "kelno.store.max_bytes=9223372036854775808",
                   "kelno.store.max_bytes must be a whole number of payload bytes, at least 1 "
                   "(read \"9223372036854775808\")"},
        BadSetting{"ExpireYes", "kelno.store.expire=yes",
                   "kelno.store.expire must be true or false (read \"yes\")"}),
    [](const testing::TestParamInfo<BadSetting>& info) { return std::string(info.param.name); });

TEST(StoreSettings, GoodValuesAreAccepted) {
    DaemonOptions options;
    options.extra_config =
        "kelno.store.max_messages=9223372036854775807\nkelno.store.max_bytes=1\n"
        "kelno.store.expire=false\n";
    DaemonProcess daemon(options);  // returns once the daemon serves
}

// A store file the node cannot use never keeps it from starting: it is moved
// aside, standard error says so, and the node serves with an empty store.
TEST(StoreFile, ADamagedFileIsMovedAsideAndTheNodeStarts) {
    const struct {
        const char* name;
        void (*damage)(const std::string& path);
    } cases[] = {
        {"not a database",
         [](const std::string& path) { std::ofstream(path) << std::string(5000, 'x'); }},
        {"a directory", [](const std::string& path) { std::filesystem::create_directory(path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.path() + "/store.db";
        c.damage(path);
        DaemonProcess daemon({"n", std::nullopt, 1, "kelno.store.path=" + path + "\n"});
        EXPECT_TRUE(daemon.process().waitForOut("Store: " + path + ", 0 messages loaded\n"));
        EXPECT_TRUE(daemon.process().waitForErr("; moved aside to " + path + ".bad-"));
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        EXPECT_EQ(daemon.stop(), 0);
    }
}

}  // namespace
}  // namespace kelno_test
