// The RPC connection against a scripted server: replies in pieces, and the
// bounds that keep a bad server from hanging or flooding the caller.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "fake_server.h"
#include "rpc_connection.h"

using namespace scxopenocd::detail;

namespace {

Endpoint loopback(int port) {
    Endpoint endpoint;
    std::string error;
    EXPECT_TRUE(parse_endpoint("127.0.0.1:" + std::to_string(port), &endpoint, &error)) << error;
    return endpoint;
}

Clock::time_point in_ms(long ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

TEST(OpenOcdRpcConnection, ExchangesMessagesAndReadsLongRepliesWhole) {
    FakeServer server;
    server.respond([](const std::string &message) {
        return FakeServer::Answer{message == "long" ? std::string(50000, 'a') + "\x1a"
                                                    : "[" + message + "]\x1a"};
    });
    RpcConnection connection;
    std::string error, reply;
    ASSERT_TRUE(connection.open(loopback(server.port()), in_ms(2000), &error)) << error;
    ASSERT_TRUE(connection.exchange("set x 1", in_ms(2000), 100, &reply, &error)) << error;
    EXPECT_EQ("[set x 1]", reply);
    ASSERT_TRUE(connection.exchange("long", in_ms(2000), 65536, &reply, &error)) << error;
    EXPECT_EQ(50000u, reply.size());
    EXPECT_FALSE(connection.peer_gone());
    EXPECT_EQ(2u, server.messages());
}

TEST(OpenOcdRpcConnection, BadRepliesFailWithinTheDeadlineAndCloseTheConnection) {
    struct Case {
        const char *what;
        FakeServer::Answer answer;
        const char *error;
    };
    const Case cases[] = {
        {"oversized", {std::string(70000, 'x') + "\x1a"}, "longer than"},
        {"truncated", {"half a rep", true}, "closed"},
        {"bytes after the end",
         {"ok\x1a"
          "extra"},
         "after the end"},
        {"silent", {""}, "time-out"},
    };
    for (const Case &c : cases) {
        FakeServer server;
        server.respond([&](const std::string &) { return c.answer; });
        RpcConnection connection;
        std::string error, reply;
        ASSERT_TRUE(connection.open(loopback(server.port()), in_ms(2000), &error)) << error;
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(connection.exchange("x", in_ms(300), 65536, &reply, &error)) << c.what;
        EXPECT_NE(std::string::npos, error.find(c.error)) << c.what << ": " << error;
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000)) << c.what;
        EXPECT_LE(reply.size(), 65536u) << c.what;
        EXPECT_FALSE(connection.is_open()) << c.what;
        EXPECT_FALSE(connection.exchange("x", in_ms(300), 100, &reply, &error)) << "closed";
    }
}

TEST(OpenOcdRpcConnection, NoServerAndAClosedConnectionAreNoticed) {
    // A bound port that does not listen refuses connections.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&address), size));
    ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size));
    RpcConnection connection;
    std::string error;
    EXPECT_FALSE(connection.open(loopback(ntohs(address.sin_port)), in_ms(2000), &error));
    EXPECT_NE(std::string::npos, error.find("refused")) << error;
    close(fd);

    FakeServer server;
    server.respond([](const std::string &) { return FakeServer::Answer{"bye\x1a", true}; });
    std::string reply;
    ASSERT_TRUE(connection.open(loopback(server.port()), in_ms(2000), &error)) << error;
    ASSERT_TRUE(connection.exchange("x", in_ms(2000), 100, &reply, &error)) << error;
    const Clock::time_point deadline = in_ms(2000);
    while (!connection.peer_gone() && Clock::now() < deadline)
        usleep(1000);
    EXPECT_TRUE(connection.peer_gone()) << "the server closed it";
}
