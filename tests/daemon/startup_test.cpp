// kelnod's command line, settings, start-up lines, start-up failures and stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <zmq.h>

#include <string>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "FreePort.hpp"
#include "RawPeer.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

std::string ports_config(int channeler_port, int broadcaster_port) {
    return "kelno.channeler.port=" + std::to_string(channeler_port) +
           "\nkelno.broadcaster.port=" + std::to_string(broadcaster_port) + "\n";
}

std::string executable_script(const TempDir& dir, const std::string& name,
                              const std::string& body) {
    std::string path = dir.write(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(KelnodCommandLine, MoreThanOneArgumentPrintsUsageWithoutReadingAFile) {
    ChildProcess kelnod({kelnod_path(), "/nonexistent/a.conf", "second"});
    EXPECT_EQ(kelnod.waitExit(), 1);
    EXPECT_EQ(kelnod.err(),
              "kelnod takes one optional argument. The config file path.\nkelnod [config file]\n");
    EXPECT_EQ(kelnod.out(), "");
}

TEST(KelnodCommandLine, UnreadableConfigFilePrintsLoaderMessageAndUsage) {
    ChildProcess kelnod({kelnod_path(), "/nonexistent/kelnod.conf"});
    EXPECT_EQ(kelnod.waitExit(), 1);
    EXPECT_EQ(kelnod.out(), "Failed to load input file /nonexistent/kelnod.conf\n");
    EXPECT_EQ(kelnod.err(),
              "kelnod takes one optional argument. The config file path.\nkelnod [config file]\n");
}

TEST(KelnodCommandLine, MissingNodeNameIsAConfigurationError) {
    TempDir dir;
    std::string config = dir.write("kelnod.conf", ports_config(free_port(), free_port()));
    ChildProcess kelnod({kelnod_path(), config});
    EXPECT_EQ(kelnod.waitExit(), 1);
    EXPECT_EQ(kelnod.err(), "Kelno config needs kelno.node_name\n");
    EXPECT_EQ(kelnod.out(), "");
}

TEST(KelnodStartup, PrintsItsSettingsAndStopsWithDoneOnSigterm) {
    TempDir dir;
    int channeler_port = free_port();
    int broadcaster_port = free_port();
    std::string upstream = "tcp://127.0.0.1:" + std::to_string(free_port());
    std::string config = dir.write(
        "kelnod.conf", "kelno.node_name=alpha\n" + ports_config(channeler_port, broadcaster_port) +
                           "kelno.forwarder.remote=" + upstream + "\n");
    ChildProcess kelnod({kelnod_path(), config});
    // No interval configured: the default of 2 seconds.
    RawPeer client(ZMQ_DEALER);
    client.connect("tcp://127.0.0.1:" + std::to_string(channeler_port));
    client.send(registry_query_frames());
    ASSERT_TRUE(client.receive());  // serving
    // The reply may overtake the daemon's own output on its way to us.
    ASSERT_TRUE(kelnod.waitForOut("Get reg on channeler\n"));
    EXPECT_EQ(kelnod.out(), "Starting kelnod. Name: alpha Ports: [" +
                                std::to_string(channeler_port) + "] [" +
                                std::to_string(broadcaster_port) + "] \nForwarder: " + upstream +
                                "\nInbox interval set to: 2 seconds.\nGet reg on channeler\n");
    kelnod.signal(SIGTERM);
    EXPECT_EQ(kelnod.waitExit(), 0);
    EXPECT_TRUE(kelnod.out().size() > 5 &&
                kelnod.out().compare(kelnod.out().size() - 5, 5, "Done\n") == 0);
    EXPECT_EQ(kelnod.err(), "");
}

TEST(KelnodStartup, WithoutRemoteThereIsNoForwarderLine) {
    DaemonProcess daemon({"solo", std::nullopt, 3, ""});
    // Then comes the line of the registry query that showed it was ready.
    ASSERT_TRUE(daemon.process().waitForOut("Get reg on channeler\n"));
    EXPECT_EQ(daemon.process().out().substr(0, daemon.process().out().find("Get reg")),
              "Starting kelnod. Name: solo Ports: [" + std::to_string(daemon.channelerPort()) +
                  "] [" + std::to_string(daemon.broadcasterPort()) +
                  "] \nInbox interval set to: 3 seconds.\n");
}

TEST(KelnodStop, EitherSignalStopsInOrderWhileIdleOrServing) {
    for (int signal_number : {SIGTERM, SIGINT}) {
        for (bool busy : {false, true}) {
            SCOPED_TRACE(std::to_string(signal_number) + (busy ? " busy" : " idle"));
            DaemonProcess daemon;
            RawPeer client(ZMQ_DEALER);
            if (busy) {
                // The signal is likely to land while a request is being handled.
                client.connect(daemon.channelerEndpoint());
                for (int i = 0; i < 2000; ++i) client.send(registry_query_frames());
                ASSERT_TRUE(client.receive());
            }
            daemon.process().signal(signal_number);
            EXPECT_EQ(daemon.process().waitExit(), 0) << daemon.process().err();
            EXPECT_TRUE(daemon.process().waitForOut("Done\n", std::chrono::milliseconds(0)));
        }
    }
}

// The node name from a script is its first output line without the line
// break: otherwise the node would poll upstream as "name\n" and never receive
// what is addressed to "name".
TEST(KelnodScripts, NodeNameComesFromTheScriptsFirstLineWithoutLineBreak) {
    struct Case {
        std::string output;
        std::string name;
    };
    for (const Case& c : {Case{"scripted\\n", "scripted"}, Case{"crlf\\r\\n", "crlf"},
                          Case{"bare", "bare"}, Case{"first\\nsecond\\n", "first"}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RawPeer upstream(ZMQ_ROUTER);
        std::string upstream_endpoint = upstream.bindLoopback();
        std::string script = executable_script(dir, "name.sh", "printf '" + c.output + "'\n");
        std::string config =
            dir.write("kelnod.conf", "kelno.node_name=" + script + "\n" +
                                         ports_config(free_port(), free_port()) +
                                         "kelno.forwarder.remote=" + upstream_endpoint + "\n");
        ChildProcess kelnod({kelnod_path(), config});
        ASSERT_TRUE(kelnod.waitForOut("Starting kelnod. Name: " + c.name + " Ports: ["));

        // The node's inbox poll carries the clean name, in its identity too.
        auto poll = upstream.receive();
        ASSERT_TRUE(poll);
        EXPECT_EQ(poll->at(0).substr(0, c.name.size() + 5), c.name + "|fwd|");
        EXPECT_EQ(Frames(poll->begin() + 1, poll->end()), inbox_frames(c.name, "node"));
        kelnod.signal(SIGTERM);
        EXPECT_EQ(kelnod.waitExit(), 0);
    }
}

TEST(KelnodScripts, RemoteComesFromAScriptAndShortValuesAreNotScripts) {
    TempDir dir;
    RawPeer upstream(ZMQ_ROUTER);
    std::string upstream_endpoint = upstream.bindLoopback();
    std::string script = executable_script(dir, "remote.sh", "echo " + upstream_endpoint + "\n");
    std::string config =
        dir.write("kelnod.conf", "kelno.node_name=sh\n" + ports_config(free_port(), free_port()) +
                                     "kelno.forwarder.remote=" + script + "\n");
    ChildProcess kelnod({kelnod_path(), config});
    ASSERT_TRUE(kelnod.waitForOut("Forwarder: " + upstream_endpoint + "\n"));
    // A two-character node name is taken as it stands.
    ASSERT_TRUE(kelnod.waitForOut("Name: sh Ports"));
    auto poll = upstream.receive();
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->at(2), "BOX");
}

TEST(KelnodStartupFailure, ReportsAndExitsWithStatusOne) {
    struct Case {
        std::string what;
        std::string config;  // without ports
        std::string error;   // expected on standard error
    };
    TempDir dir;
    std::string silent = executable_script(dir, "silent.sh", "exit 0\n");
    std::string missing = dir.path() + "/missing.sh";
    // Something already listens on this port.
    RawPeer occupant(ZMQ_ROUTER);
    std::string occupied = occupant.bindLoopback();
    std::string occupied_port = occupied.substr(occupied.rfind(':') + 1);

    for (const Case& c : {
             Case{"script prints nothing", "kelno.node_name=" + silent + "\n",
                  "Failed to read script output\n"},
             Case{"script missing", "kelno.node_name=" + missing + "\n",
                  "Failed to read script output\n"},
             Case{"remote script prints nothing",
                  "kelno.node_name=n\nkelno.forwarder.remote=" + silent + "\n",
                  "Failed to read script output\n"},
             Case{"malformed remote", "kelno.node_name=n\nkelno.forwarder.remote=no-endpoint\n",
                  "While trying to connect. "},
             Case{"channeler port in use",
                  "kelno.node_name=n\nkelno.channeler.port=" + occupied_port + "\n",
                  "While trying to bind. "},
             Case{"message size limit not a number",
                  "kelno.node_name=n\nkelno.max_message_size=lots\n",
                  "kelno.max_message_size must be a whole number of bytes, 0 for no limit (read "
                  "\"lots\")\n"},
             Case{"negative message size limit", "kelno.node_name=n\nkelno.max_message_size=-1\n",
                  "kelno.max_message_size must be a whole number of bytes"},
             Case{"broadcaster port in use",
                  "kelno.node_name=n\nkelno.broadcaster.port=" + occupied_port + "\n",
                  "While trying to bind. "},
         }) {
        SCOPED_TRACE(c.what);
        // The first definition of a key wins, so the case's ports come first.
        std::string config =
            dir.write("kelnod.conf", c.config + ports_config(free_port(), free_port()));
        ChildProcess kelnod({kelnod_path(), config});
        EXPECT_EQ(kelnod.waitExit(), 1);
        EXPECT_NE(kelnod.err().find(c.error), std::string::npos) << kelnod.err();
        EXPECT_EQ(kelnod.out().find("Done"), std::string::npos);
    }
}

}  // namespace
}  // namespace kelno_test
