// Secure links between nodes: the secure port lets in only the authorized
// CURVE keys and serves them as the channeler does; the forwarder as a CURVE
// client; key files; bind addresses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zmq.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "DaemonProcess.hpp"
#include "FreePort.hpp"
#include "LocalClient.hpp"
#include "RawPeer.hpp"
#include "TempDir.hpp"

namespace kelno_test {
namespace {

constexpr auto kSilence = std::chrono::milliseconds(300);  // how long "nothing came" waits

struct KeyPair {
    std::string public_key;
    std::string secret_key;
};

KeyPair fresh_pair() {
    char public_key[41];
    char secret_key[41];
    zmq_curve_keypair(public_key, secret_key);
    return {public_key, secret_key};
}

std::string file_text(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs kelnod --generate-keys; its standard output without the line break.
std::string generate_keys(const std::string& path) {
    ChildProcess generator({kelnod_path(), "--generate-keys", path});
    EXPECT_EQ(generator.waitExit(), 0) << generator.err();
    std::string key = generator.out();
    if (!key.empty() && key.back() == '\n') key.pop_back();
    return key;
}

// A node "up" with a secure port, and the keys of two peers it authorizes: a
// downstream kelnod's key file and a raw peer's pair.
struct SecureNode {
    explicit SecureNode(const std::function<std::string(SecureNode&)>& authorized_file = {}) {
        up_public = generate_keys(up_key_file);
        down_public = generate_keys(down_key_file);
        authorized_keys =
            authorized_file ? authorized_file(*this)
                            : dir.write("authorized", "# who may come in\n" + down_public +
                                                          "\n\n" + raw.public_key + "  # a tester\n");
        DaemonOptions options;
        options.node_name = "up";
        options.extra_config = "kelno.channeler.bind=127.0.0.1\nkelno.secure.port=" +
                               std::to_string(secure_port) + "\nkelno.secure.key_file=" +
                               up_key_file + "\nkelno.secure.authorized_keys=" + authorized_keys +
                               "\n";
        node = std::make_unique<DaemonProcess>(options);
    }
    ~SecureNode() {
        if (lower) expect_orderly_stop(*lower);
        expect_orderly_stop(*node);
    }

    std::string secureEndpoint() const { return "tcp://127.0.0.1:" + std::to_string(secure_port); }
    std::string err() const { return node->process().err(); }

    // A kelnod "down" chained to the secure port.
    DaemonProcess& startLower() {
        DaemonOptions options;
        options.node_name = "down";
        options.upstream = secureEndpoint();
        options.extra_config = "kelno.forwarder.server_key=" + up_public +
                               "\nkelno.secure.key_file=" + down_key_file + "\n";
        lower = std::make_unique<DaemonProcess>(options);
        return *lower;
    }

    // A raw DEALER on the secure port with the authorized raw pair.
    std::unique_ptr<RawPeer> authorizedPeer(const std::string& identity) {
        auto peer = std::make_unique<RawPeer>(ZMQ_DEALER, identity);
        peer->useCurve(up_public, raw.public_key, raw.secret_key);
        peer->connect(secureEndpoint());
        return peer;
    }

    TempDir dir;
    std::string up_key_file = dir.path() + "/up.key";
    std::string down_key_file = dir.path() + "/down.key";
    std::string up_public;
    std::string down_public;
    KeyPair raw = fresh_pair();
    int secure_port = free_port();
    std::string authorized_keys;
    std::unique_ptr<DaemonProcess> node;
    std::unique_ptr<DaemonProcess> lower;
};

// Passed up through the secure port, and kept above for the node below and
// fetched down by its inbox poll.
TEST(SecurePort, AnAuthorizedNodeChainsThroughItBothWays) {
    SecureNode up;
    DaemonProcess& down = up.startLower();
    ASSERT_TRUE(up.node->process().waitForOut("{\"down\":null}\n")) << up.err();
    LocalClient up_client(*up.node);
    LocalClient down_client(down);

    WireMessage for_down;
    for_down.routes = {"down"};
    ASSERT_EQ(up_client.request(for_down.frames()), ack_frames(for_down.id));
    EXPECT_EQ(up_client.nextPublication(), publication_frames(for_down));
    EXPECT_EQ(down_client.nextPublication(), publication_frames(for_down));
    EXPECT_TRUE(up_client.waitUntilNothingKeptFor("down"));

    WireMessage from_down;
    from_down.routes = {"up"};
    ASSERT_EQ(down_client.request(from_down.frames()), ack_frames(from_down.id));
    WireMessage passed_up = from_down;
    passed_up.origin = "down,";
    EXPECT_EQ(down_client.nextPublication(), publication_frames(passed_up));
    EXPECT_EQ(up_client.nextPublication(), publication_frames(passed_up));
    // Kept above for "up"; the copy below went with the acknowledgement.
    EXPECT_EQ(up_client.request(inbox_frames("up", "clnt")), passed_up.frames());
    EXPECT_TRUE(down_client.waitUntilNothingKeptFor("up"));

    EXPECT_TRUE(down.process().waitForOut("Forwarder over CURVE, server key " + up.up_public));
    EXPECT_TRUE(up.node->process().waitForOut("Secure port: [" + std::to_string(up.secure_port) +
                                              "] CURVE, public key " + up.up_public));
    EXPECT_EQ(up.err().find("refused"), std::string::npos) << up.err();
    EXPECT_EQ(down.process().err(), "");
}

// Each refused peer tries to send a message for "victim", to poll what is kept
// for "victim", and to acknowledge (and so delete) it; none of it happens, the
// refusal is reported once however often it tries, and the node serves an
// authorized peer from the same address as before.
TEST(SecurePort, RefusedPeersCanNeitherSendNorPollNorAcknowledge) {
    struct Case {
        std::string what;
        std::function<void(RawPeer&, const SecureNode&)> prepare;
        std::string refused;  // the report
        std::string let_in;   // the report when the authorized peer comes in after it
    };
    const std::string by_monitor = "secure port: refused a peer of tcp://*:";
    const std::string by_key = "secure port: refused 127.0.0.1: key not authorized";
    for (const Case& c : {
             Case{"a key the node does not know, nor its server key",
                  [](RawPeer& peer, const SecureNode&) {
                      KeyPair own = fresh_pair();
                      peer.useCurve(fresh_pair().public_key, own.public_key, own.secret_key);
                  },
                  by_monitor, "secure port: a peer of tcp://*:"},
             Case{"a plaintext peer", [](RawPeer&, const SecureNode&) {}, by_monitor,
                  "secure port: a peer of tcp://*:"},
             Case{"the right server key but a key not authorized",
                  [](RawPeer& peer, const SecureNode& node) {
                      KeyPair own = fresh_pair();
                      peer.useCurve(node.up_public, own.public_key, own.secret_key);
                  },
                  by_key, "secure port: 127.0.0.1 let in after "},
         }) {
        SCOPED_TRACE(c.what);
        SecureNode up;
        LocalClient local(*up.node);
        WireMessage kept;
        kept.routes = {"victim"};
        ASSERT_EQ(local.request(kept.frames()), ack_frames(kept.id));
        ASSERT_EQ(local.nextPublication(), publication_frames(kept));

        RawPeer intruder(ZMQ_DEALER, "intruder|fwd|1");
        c.prepare(intruder, up);
        intruder.connect(up.secureEndpoint());
        WireMessage smuggled;
        smuggled.routes = {"victim"};
        intruder.send(smuggled.frames());
        intruder.send(inbox_frames("victim", "node"));
        intruder.send(ack_frames(kept.id));
        ASSERT_TRUE(up.node->process().waitForErr(c.refused)) << up.err();
        EXPECT_EQ(intruder.receive(kSilence), std::nullopt);
        EXPECT_EQ(local.nextPublication(kSilence), std::nullopt);
        EXPECT_EQ(local.request(registry_query_frames()), registry_reply_frames("null"));
        // ZeroMQ retried meanwhile; one line says so for the whole episode.
        EXPECT_EQ(count_of(up.err(), c.refused), 1u) << up.err();

        // Still kept, and nothing smuggled in beside it: once an authorized
        // peer acknowledges it, nothing is left for "victim".
        auto peer = up.authorizedPeer("tester|fwd|2");
        peer->send(inbox_frames("victim", "node"));
        EXPECT_EQ(peer->receive(), kept.frames());
        peer->send(ack_frames(kept.id));
        EXPECT_TRUE(local.waitUntilNothingKeptFor("victim"));
        EXPECT_TRUE(up.node->process().waitForErr(c.let_in)) << up.err();
    }
}

// Without a usable list nobody comes in, and the node says why at start.
TEST(SecurePort, WithoutAuthorizedKeysEveryPeerIsRefused) {
    struct Case {
        std::string what;
        std::function<std::string(SecureNode&)> authorized_file;
        std::vector<std::string> reports;
    };
    for (const Case& c : {
             Case{"missing file",
                  [](SecureNode& node) { return node.dir.path() + "/no-such-file"; },
                  {"kelno.secure.authorized_keys: cannot read "}},
             Case{"comments and a line that is not a key",
                  [](SecureNode& node) {
                      return node.dir.write("authorized",
                                            "# nobody yet\n#" + node.raw.public_key +
                                                "\nnot-a-key\n");
                  },
                  {"line 3 is not a public key (40 characters of Z85 text), ignored: not-a-key\n",
                   "holds no key; the secure port refuses every peer\n"}},
         }) {
        SCOPED_TRACE(c.what);
        SecureNode up(c.authorized_file);
        for (const auto& report : c.reports) {
            EXPECT_TRUE(up.node->process().waitForErr(report)) << up.err();
        }
        auto peer = up.authorizedPeer("tester|fwd|1");
        peer->send(registry_query_frames());
        ASSERT_TRUE(up.node->process().waitForErr(
            "secure port: refused 127.0.0.1: key not authorized (" + up.raw.public_key))
            << up.err();
        EXPECT_EQ(peer->receive(kSilence), std::nullopt);
    }
}

// The local address a TCP port listens on, from the kernel's table ("0100007F"
// is 127.0.0.1, "00000000" every interface); empty when none listens.
std::string listening_address(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, "%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.substr(local.find(':') + 1) == wanted) {
            return local.substr(0, local.find(':'));
        }
    }
    return "";
}

TEST(Binds, ChannelerAndBroadcasterListenWhereTheyAreBound) {
    struct Case {
        std::string config;
        std::string channeler;
        std::string broadcaster;
    };
    for (const Case& c : {
             Case{"", "00000000", "00000000"},
             Case{"kelno.channeler.bind=127.0.0.1\n", "0100007F", "00000000"},
             Case{"kelno.broadcaster.bind=127.0.0.1\n", "00000000", "0100007F"},
             Case{"kelno.channeler.bind=127.0.0.1\nkelno.broadcaster.bind=lo\n", "0100007F",
                  "0100007F"},
         }) {
        SCOPED_TRACE(c.config);
        DaemonOptions options;
        options.extra_config = c.config;
        DaemonProcess node(options);
        EXPECT_EQ(listening_address(node.channelerPort()), c.channeler);
        EXPECT_EQ(listening_address(node.broadcasterPort()), c.broadcaster);
        LocalClient client(node);  // served on loopback either way
        expect_orderly_stop(node);
    }
}

TEST(GenerateKeys, WritesAPrivatePairAndPrintsItsPublicKey) {
    TempDir dir;
    const std::string path = dir.path() + "/node.key";
    const std::string public_key = generate_keys(path);
    ASSERT_EQ(public_key.size(), 40u);
    EXPECT_EQ(public_key.find('#'), std::string::npos);  // fits a configuration file

    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string text = file_text(path);
    EXPECT_NE(text.find("\npublic_key=" + public_key + "\n"), std::string::npos) << text;
    const auto secret_at = text.find("\nsecret_key=");
    ASSERT_NE(secret_at, std::string::npos);
    char derived[41];
    ASSERT_EQ(zmq_curve_public(derived, text.substr(secret_at + 12, 40).c_str()), 0);
    EXPECT_EQ(derived, public_key);

    // Never over an existing file, and a file is needed.
    ChildProcess again({kelnod_path(), "--generate-keys", path});
    EXPECT_EQ(again.waitExit(), 1);
    EXPECT_NE(again.err().find("exists already; it is never overwritten"), std::string::npos);
    EXPECT_EQ(file_text(path), text);
    ChildProcess unnamed({kelnod_path(), "--generate-keys"});
    EXPECT_EQ(unnamed.waitExit(), 1);
    EXPECT_EQ(unnamed.err(), "kelnod --generate-keys FILE: name the one file to write\n");
    ChildProcess nowhere({kelnod_path(), "--generate-keys", dir.path() + "/missing/node.key"});
    EXPECT_EQ(nowhere.waitExit(), 1);
    EXPECT_NE(nowhere.err().find("cannot be created: No such file or directory"),
              std::string::npos);
}

TEST(SecureStartupFailure, ReportsAndExitsWithStatusOne) {
    TempDir dir;
    const std::string good = dir.path() + "/good.key";
    const std::string good_public = generate_keys(good);
    const KeyPair pair = fresh_pair();
    const KeyPair other = fresh_pair();
    auto private_file = [&](const std::string& name, const std::string& text) {
        const std::string path = dir.write(name, text);
        ::chmod(path.c_str(), 0600);
        return path;
    };
    const std::string short_secret =
        private_file("short.key", "public_key=" + pair.public_key + "\nsecret_key=abc\n");
    const std::string mismatched = private_file(
        "mismatched.key", "public_key=" + other.public_key + "\nsecret_key=" + pair.secret_key + "\n");
    const std::string no_public = private_file("no-public.key", "secret_key=" + pair.secret_key + "\n");
    const std::string readable = dir.write(
        "readable.key", "public_key=" + pair.public_key + "\nsecret_key=" + pair.secret_key + "\n");
    ::chmod(readable.c_str(), 0640);
    const std::string port = "kelno.secure.port=" + std::to_string(free_port()) + "\n";
    const std::string remote = "kelno.forwarder.remote=tcp://127.0.0.1:" +
                               std::to_string(free_port()) + "\n";

    struct Case {
        std::string what;
        std::string config;
        std::string error;
    };
    for (const Case& c : {
             Case{"secure port without a key file", port,
                  "kelno.secure.port needs this node's key pair: set kelno.secure.key_file"},
             Case{"server key without a key file", remote + "kelno.forwarder.server_key=" + good_public + "\n",
                  "kelno.forwarder.server_key needs this node's key pair"},
             Case{"server key without a remote",
                  "kelno.secure.key_file=" + good + "\nkelno.forwarder.server_key=" + good_public + "\n",
                  "kelno.forwarder.server_key needs kelno.forwarder.remote\n"},
             Case{"server key not a key", remote + "kelno.forwarder.server_key=abc\n",
                  "kelno.forwarder.server_key must be the upstream node's public key"},
             Case{"missing key file", port + "kelno.secure.key_file=" + dir.path() + "/none.key\n",
                  "kelno.secure.key_file: key file " + dir.path() +
                      "/none.key: cannot be read: No such file or directory\n"},
             Case{"secret key malformed", port + "kelno.secure.key_file=" + short_secret + "\n",
                  short_secret + ": secret_key must be 40 characters of Z85 text\n"},
             Case{"no public key", port + "kelno.secure.key_file=" + no_public + "\n",
                  no_public + ": no public_key=\n"},
             Case{"public key of another pair", port + "kelno.secure.key_file=" + mismatched + "\n",
                  mismatched + ": public_key is not the public key of secret_key\n"},
             Case{"key file readable by its group", port + "kelno.secure.key_file=" + readable + "\n",
                  readable + ": holds a secret key and can be read by others than its owner; make "
                             "it private with: chmod 600 " + readable + "\n"},
             Case{"key file is a directory", "kelno.secure.key_file=" + dir.path() + "\n",
                  "is not a regular file"},
             Case{"secure port not a number", "kelno.secure.port=high\n",
                  "kelno.secure.port must be a TCP port, 1 to 65535 (read \"high\")\n"},
             Case{"secure port 0", "kelno.secure.port=0\n", "kelno.secure.port must be a TCP port"},
             Case{"secure port too high", "kelno.secure.port=65536\n",
                  "kelno.secure.port must be a TCP port"},
             Case{"empty bind", "kelno.channeler.bind=\n",
                  "kelno.channeler.bind must be * or one interface's address or name (read \"\")\n"},
             Case{"bind with a port", "kelno.broadcaster.bind=127.0.0.1:80\n",
                  "kelno.broadcaster.bind must be * or one interface's address or name"},
         }) {
        SCOPED_TRACE(c.what);
        const std::string config = dir.write(
            "kelnod.conf", "kelno.node_name=n\n" + c.config + "kelno.channeler.port=" +
                               std::to_string(free_port()) + "\nkelno.broadcaster.port=" +
                               std::to_string(free_port()) + "\n");
        ChildProcess kelnod({kelnod_path(), config});
        EXPECT_EQ(kelnod.waitExit(), 1);
        EXPECT_NE(kelnod.err().find(c.error), std::string::npos) << kelnod.err();
        EXPECT_EQ(kelnod.out().find("Done"), std::string::npos);
    }
}

// The secure port beside a channeler open to the network is allowed, but said.
TEST(SecurePort, WarnsWhenThePlaintextChannelerListensEverywhere) {
    TempDir dir;
    const std::string key_file = dir.path() + "/up.key";
    generate_keys(key_file);
    DaemonOptions options;
    options.extra_config = "kelno.secure.port=" + std::to_string(free_port()) +
                           "\nkelno.secure.key_file=" + key_file + "\n";
    DaemonProcess node(options);
    EXPECT_TRUE(node.process().waitForErr(
        "kelno.channeler.bind is *: peers can still reach the plaintext channeler"));
    expect_orderly_stop(node);
}

}  // namespace
}  // namespace kelno_test
