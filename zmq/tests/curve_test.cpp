#include <gtest/gtest.h>

#include "FreePort.hpp"

#include <chrono>
#include <string>

#include <cplt/Curve.hpp>
#include <cplt/Socket.hpp>
#include <cplt/SocketMonitor.hpp>

#include "loopback.hpp"

namespace {

using namespace zmq_test;

TEST(CurveKeys, OnlyFortyCharactersOfZ85AreAKey) {
    ASSERT_TRUE(cplt::curve_available());
    const cplt::CurveKeyPair pair = cplt::generate_curve_key_pair();
    const auto bytes = cplt::curve_key_bytes(pair.public_key);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 32u);
    EXPECT_EQ(cplt::curve_key_text(*bytes), pair.public_key);
    EXPECT_EQ(cplt::curve_public_key(pair.secret_key), pair.public_key);

    for (const std::string& not_a_key : {
             std::string(),
             pair.public_key.substr(0, 39),
             pair.public_key + "0",
             std::string(39, '0') + "~",   // '~' is not a Z85 digit
             std::string(39, '0') + '\0',  // nor is a zero byte
             std::string(40, '#'),      // digits, but more than 32 bytes can hold
         }) {
        SCOPED_TRACE(not_a_key);
        EXPECT_FALSE(cplt::curve_key_bytes(not_a_key));
        EXPECT_FALSE(cplt::curve_public_key(not_a_key));
    }
}

// With the domain enforced and no ZAP handler in the process, a CURVE client
// with the right server key still never gets a message through.
TEST(CurveSockets, AnEnforcedDomainWithoutZapHandlerRefusesEveryPeer) {
    const cplt::CurveKeyPair server_keys = cplt::generate_curve_key_pair();
    const cplt::CurveKeyPair client_keys = cplt::generate_curve_key_pair();
    cplt::Socket server(cplt::SocketType::Router);
    server.setCurveServer(server_keys.secret_key);
    server.setZapDomainEnforced("test");
    cplt::SocketMonitor monitor(server, cplt::SocketMonitor::handshake_failed_no_detail |
                                            cplt::SocketMonitor::handshake_succeeded);
    server.bind(kelno_test::any_loopback_port);
    const std::string endpoint = server.lastEndpoint();

    cplt::Socket client(cplt::SocketType::Dealer);
    client.setCurveClient(server_keys.public_key, client_keys.public_key, client_keys.secret_key);
    client.connect(endpoint);
    client.send("hello", false);

    ASSERT_TRUE(wait_for_input(monitor.socket()));
    const auto event = monitor.next();
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, cplt::SocketMonitor::handshake_failed_no_detail);
    EXPECT_FALSE(wait_for_input(server, std::chrono::milliseconds(300)));
}

}  // namespace
