#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ChildProcess.hpp"
#include "TempDir.hpp"

namespace {

using kelno_test::ChildProcess;
using kelno_test::TempDir;
using namespace std::chrono_literals;

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command line; the exit status, with the output in `output`.
int run_shell(const std::string& command, std::string& output,
              std::chrono::milliseconds timeout = 120s) {
    ChildProcess shell({"/bin/sh", "-c", command});
    auto status = shell.waitExit(timeout);
    output = shell.out() + shell.err();
    return status ? *status : -1;
}

// A path relative to the prefix, or the absolute path itself.
std::string under(const std::string& prefix, const std::string& dir) {
    return std::filesystem::path(dir).is_absolute() ? dir : prefix + "/" + dir;
}

class InstalledTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string output;
        ASSERT_EQ(run_shell(std::string("'") + KELNO_CMAKE_COMMAND + "' --install '" +
                                KELNO_BUILD_DIR + "' --prefix '" + prefix.path() + "'",
                            output),
                  0)
            << output;
    }

    std::string path(const std::string& dir, const std::string& name = "") const {
        return under(prefix.path(), dir) + (name.empty() ? "" : "/" + name);
    }

    TempDir prefix;
};

TEST_F(InstalledTree, HoldsLibrariesHeadersProgramsAndSystemFiles) {
    const std::string expected[] = {
        path(KELNO_INSTALL_LIBDIR, "libkelno_util.so"),
        path(KELNO_INSTALL_LIBDIR, "libzmq_catapult.so"),
        path(KELNO_INSTALL_LIBDIR, "libkelno_messenging.so"),
        path(KELNO_INSTALL_LIBDIR, "pkgconfig/kelno_util.pc"),
        path(KELNO_INSTALL_LIBDIR, "pkgconfig/zmq_catapult.pc"),
        path(KELNO_INSTALL_LIBDIR, "pkgconfig/kelno_messenging.pc"),
        path(KELNO_INSTALL_INCLUDEDIR, "kelnou/Exception.hpp"),
        path(KELNO_INSTALL_INCLUDEDIR, "cplt/Socket.hpp"),
        path(KELNO_INSTALL_INCLUDEDIR, "kelnom/Client.hpp"),
        path(KELNO_INSTALL_BINDIR, "kelnod"),
        path(KELNO_INSTALL_BINDIR, "kelno_prompt"),
        path(KELNO_INSTALL_BINDIR, "kelno_mirror_json"),
        path(KELNO_INSTALL_BINDIR, "kelno_json_tester"),
        path(KELNO_INSTALL_BINDIR, "kelno_stats"),
        path(KELNO_INSTALL_SYSCONFDIR, "kelnod.conf"),
        path(KELNO_INSTALL_UNITDIR, "kelnod.service"),
    };
    for (const auto& file : expected) EXPECT_TRUE(std::filesystem::exists(file)) << file;

    EXPECT_NE(read_file(path(KELNO_INSTALL_SYSCONFDIR, "kelnod.conf")).find("kelno.node_name="),
              std::string::npos);
    EXPECT_NE(read_file(path(KELNO_INSTALL_UNITDIR, "kelnod.service"))
                  .find("\nExecStart=" + path(KELNO_INSTALL_BINDIR, "kelnod") + " " +
                        path(KELNO_INSTALL_SYSCONFDIR, "kelnod.conf") + "\n"),
              std::string::npos);
}

// The build tree's run paths are gone from installed programs; they load the
// installed libraries through their own run path or not at all.
TEST_F(InstalledTree, ProgramsFindTheInstalledLibraries) {
    ChildProcess tester({path(KELNO_INSTALL_BINDIR, "kelno_json_tester"), "5555"});
    EXPECT_EQ(tester.waitExit(30s), 1) << tester.err();
    EXPECT_EQ(
        tester.err().rfind(
            path(KELNO_INSTALL_BINDIR, "kelno_json_tester") + " expects at three arguments.\n", 0),
        0u)
        << tester.err();

    ChildProcess daemon({path(KELNO_INSTALL_BINDIR, "kelnod"), "one", "two"});
    EXPECT_EQ(daemon.waitExit(30s), 1) << daemon.err();
    EXPECT_NE(daemon.err().find("kelnod [config file]"), std::string::npos) << daemon.err();
}

TEST_F(InstalledTree, OutsideProgramBuildsAgainstItThroughPkgConfig) {
    TempDir outside;
    const std::string source = outside.write("main.cpp", R"(
#include <iostream>
#include <kelnom/Client.hpp>
#include <kelnou/Uuid.hpp>

int main() {
    // Sockets of all three libraries, connecting in the background to nothing.
    kelnom::Client client("outside", 1, 2, {"news"});
    kelnom::Message message(kelnom::Payload(5, "text"),
                            kelnom::Message::Config("outside", {"node"}, kelnom::Message::Seconds(20),
                                                    kelnom::Message::AckMode::Ack));
    std::cout << message.wireName() << " " << message.msgId().size() << " "
              << kelnou::generate_str_uuid().size() << " " << client.id() << std::endl;
}
)");
    const std::string pkg_config = std::string("PKG_CONFIG_PATH='") +
                                   path(KELNO_INSTALL_LIBDIR, "pkgconfig") + "' '" +
                                   KELNO_PKG_CONFIG + "'";
    // A sanitizer build's libraries need the program built with the same runtime.
    const std::string sanitize =
        std::string(KELNO_SANITIZE).empty() ? "" : std::string(" -fsanitize=") + KELNO_SANITIZE;
    const std::string program = outside.path() + "/outside";

    std::string output;
    ASSERT_EQ(run_shell(pkg_config + " --modversion kelno_messenging", output), 0) << output;
    EXPECT_EQ(output, std::string(KELNO_VERSION) + "\n");
    ASSERT_EQ(run_shell("'" + std::string(KELNO_CXX_COMPILER) + "' -std=c++17" + sanitize + " '" +
                            source + "' -o '" + program + "' $(" + pkg_config +
                            " --cflags --libs kelno_messenging) -Wl,-rpath,$(" + pkg_config +
                            " --variable=libdir kelno_messenging)",
                        output),
              0)
        << output;
    // Started directly, not through the shell, so that a cross build's
    // ChildProcess runs it through the emulator.
    ChildProcess outside_program({program});
    ASSERT_EQ(outside_program.waitExit(30s), 0) << outside_program.out() << outside_program.err();
    EXPECT_EQ(outside_program.out() + outside_program.err(), "MSG 36 36 outside\n");
}

}  // namespace
