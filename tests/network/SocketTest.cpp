#include "src/Network/Socket/Socket.h"
#include "src/Network/AddressText.h"
#include "src/Network/TargetClient.h"
#include "tests/network/ProtocolPrint.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The socket layer on the loopback address ::1 only.

namespace {

NodeAddress loopback(uint16_t hostPort = 0)
{
    NodeAddress a;
    a.address[15] = 1;
    a.setHostPort(hostPort);
    return a;
}

class SocketLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(receiver.open(SocketKind::UdpV6Only));
        local = loopback();
        ASSERT_TRUE(receiver.bind(local)) << "error " << receiver.lastError();
        ASSERT_NE(local.port, 0);
        ASSERT_TRUE(sender.open(SocketKind::UdpV6Only));
        NodeAddress any;
        ASSERT_TRUE(sender.bind(any));
    }
    Socket receiver;
    Socket sender;
    NodeAddress local;
};

TEST(Socket, BindToTheAnyAddressReportsThePortAndFixesNoInterface)
{
    Socket s;
    EXPECT_FALSE(s.isOpen());
    ASSERT_TRUE(s.open(SocketKind::UdpV6Only));
    NodeAddress any;
    ASSERT_TRUE(s.bind(any));
    EXPECT_NE(any.port, 0);
    EXPECT_EQ(s.fixedInterface(), 0u);
    s.close();
    EXPECT_FALSE(s.isOpen());
    s.close(); // safe twice
}

TEST(Socket, OpenKinds)
{
    const struct {
        int kind;
        bool opens;
    } rows[] = {{0, true}, {1, true}, {2, true}, {3, true}, {4, true}, {5, true}, {6, false}};
    for (const auto &r : rows) {
        Socket s;
        EXPECT_EQ(s.open(static_cast<SocketKind>(r.kind)), r.opens) << "kind " << r.kind;
        EXPECT_EQ(s.isOpen(), r.opens) << "kind " << r.kind;
    }
}

TEST(Socket, BindTwiceToOnePortFailsWithAnError)
{
    Socket a, b;
    ASSERT_TRUE(a.open(SocketKind::TcpV6Only));
    NodeAddress l = loopback();
    ASSERT_TRUE(a.bind(l)); // stream kinds listen after binding
    ASSERT_TRUE(b.open(SocketKind::TcpV6Only));
    NodeAddress same = l;
    EXPECT_FALSE(b.bind(same));
    EXPECT_NE(b.lastError(), 0);
}

TEST_F(SocketLoopback, WaitOnAnIdleSocketTimesOutAtOnce)
{
    const int64_t start = nowMicros();
    EXPECT_EQ(receiver.waitReadable(0), 1);
    EXPECT_EQ(receiver.waitReadable(20000), 1);
    const int64_t elapsed = nowMicros() - start;
    EXPECT_GE(elapsed, 19000);
    EXPECT_LT(elapsed, 1000000);
}

TEST_F(SocketLoopback, DatagramArrivesWithItsSource)
{
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
    ASSERT_TRUE(sender.sendTo(data.data(), data.size(), local, true));
    ASSERT_EQ(receiver.waitReadable(1000000), 2);
    std::vector<uint8_t> buffer;
    NodeAddress source;
    ASSERT_TRUE(receiver.receiveFrom(buffer, source));
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(source.address[15], 1);
    EXPECT_NE(source.port, 0);
    EXPECT_NE(source.port, local.port);
}

TEST_F(SocketLoopback, DatagramsAbove1500BytesArriveEmpty)
{
    for (size_t size : {1500u, 1501u, 4000u}) {
        const std::vector<uint8_t> data(size, 0x5a);
        ASSERT_TRUE(sender.sendTo(data.data(), data.size(), local, false)) << size;
        ASSERT_EQ(receiver.waitReadable(1000000), 2) << size;
        std::vector<uint8_t> buffer;
        NodeAddress source;
        source.interfaceIndex = 77;
        ASSERT_TRUE(receiver.receiveFrom(buffer, source));
        if (size <= Socket::kReceiveSize) {
            EXPECT_EQ(buffer.size(), size);
        } else {
            EXPECT_TRUE(buffer.empty()) << size;
            EXPECT_EQ(source.interfaceIndex, 77) << "source left unchanged";
        }
    }
}

TEST_F(SocketLoopback, SendToAClosedPortIsNoFailure)
{
    // UDP sends do not see the other side; the caller's time-out does.
    NodeAddress nobody = loopback(1);
    const uint8_t b = 0;
    EXPECT_TRUE(sender.sendTo(&b, 1, nobody, true));
}

#ifndef _WIN32
// Every client binds its command socket to port 0. Linux hands a new socket
// with SO_REUSEADDR a port that an open socket with SO_REUSEADDR already
// holds (for datagram sockets); two clients would then share a port and
// take each other's replies (tried: about one in twenty of 3000 sockets).
TEST(Socket, EverySocketBoundToPortZeroGetsAPortOfItsOwn)
{
    std::vector<std::unique_ptr<Socket>> sockets;
    std::set<uint16_t> ports;
    for (int i = 0; i < 1000; ++i) {
        sockets.push_back(std::make_unique<Socket>());
        ASSERT_TRUE(sockets.back()->open(SocketKind::UdpV6Only));
        NodeAddress any;
        ASSERT_TRUE(sockets.back()->bind(any)) << "error " << sockets.back()->lastError();
        ASSERT_TRUE(ports.insert(any.hostPort()).second)
            << "port " << any.hostPort() << " was handed out twice (socket " << i << ")";
    }
}
#endif

TEST(Socket, ClosedSocketWaitFailsAndSendFails)
{
    Socket s;
    EXPECT_EQ(s.waitReadable(0), 0);
    const uint8_t b = 0;
    EXPECT_FALSE(s.sendTo(&b, 1, loopback(9), true));
}

// A transaction of the client over ::1, against a responder written from the
// datagram layout (literal bytes, not our codec). This runs on every
// platform, Windows included, where a datagram to a port nobody serves
// comes back as a receive error (port unreachable) that must end as a
// time-out, never as a failure.
enum class Responder { Reply, ReplyFromOtherPort, Nobody };

struct LoopbackRow {
    const char *name;
    Responder responder;
    std::vector<uint8_t> reply;
    TransactResult result;
    const char *text; // the version text read, for Ok
};

// VersionQuery: magic 100, lengthWord 16, command 0x20, no flags, no payload.
const std::vector<uint8_t> kVersionQuery = {0x64, 0x00, 0x10, 0x00, 0x20, 0x00, 0x00, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// VersionReply "2.4.1": lengthWord 27 (16 + 5 | 3 << 8), command 0x21, OK.
const std::vector<uint8_t> kVersionReply = {0x64, 0x00, 0x1b, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0x00, 0x00, 0x00, 0x00, '2',  '.',  '4',  '.',  '1',  0x00, 0x00, 0x00};
// The same reply with the OK flag clear.
const std::vector<uint8_t> kVersionRefused = {0x64, 0x00, 0x10, 0x00, 0x21, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class TargetClientLoopback : public ::testing::TestWithParam<LoopbackRow> {};

TEST_P(TargetClientLoopback, VersionQuery)
{
    const LoopbackRow &row = GetParam();
    Socket target, other;
    NodeAddress targetAddress = loopback();
    ASSERT_TRUE(target.open(SocketKind::UdpV6Only));
    ASSERT_TRUE(target.bind(targetAddress)) << "error " << target.lastError();
    ASSERT_TRUE(other.open(SocketKind::UdpV6Only));
    NodeAddress otherAddress = loopback();
    ASSERT_TRUE(other.bind(otherAddress)) << "error " << other.lastError();
    NodeAddress destination = targetAddress;
    if (row.responder == Responder::Nobody) {
        // A port that was bound a moment ago and is free now.
        target.close();
    }

    std::vector<uint8_t> request;
    std::thread responder([&] {
        if (row.responder == Responder::Nobody)
            return;
        if (target.waitReadable(5000000) != 2)
            return;
        NodeAddress client;
        target.receiveFrom(request, client);
        Socket &from = row.responder == Responder::Reply ? target : other;
        from.sendTo(row.reply.data(), row.reply.size(), client, true);
    });

    TargetClient client(0, "loopback");
    ASSERT_TRUE(client.socket().open(SocketKind::UdpV6Only));
    NodeAddress local = loopback();
    ASSERT_TRUE(client.socket().bind(local)) << "error " << client.socket().lastError();
    std::vector<uint8_t> reply;
    const int64_t start = nowMicros();
    const TransactResult result = client.transact(destination, kVersionQuery, 0x21, reply);
    const int64_t elapsed = nowMicros() - start;
    responder.join();

    EXPECT_EQ(result, row.result) << row.name;
    if (row.responder != Responder::Nobody) {
        EXPECT_EQ(request, kVersionQuery) << "the request on the wire";
    }
    if (row.result == TransactResult::Timeout) {
        // The whole 100 ms budget, no early end on a receive error; the
        // upper bound only catches a wait that never ends.
        EXPECT_GE(elapsed, 95000) << row.name;
        EXPECT_LT(elapsed, 5000000) << row.name;
    }
    if (row.result == TransactResult::Ok) {
        EXPECT_EQ(reply, row.reply);
        std::string text;
        // The same exchange through the query the commands use.
        std::thread again([&] {
            std::vector<uint8_t> r;
            NodeAddress c;
            if (target.waitReadable(5000000) == 2 && target.receiveFrom(r, c))
                target.sendTo(row.reply.data(), row.reply.size(), c, true);
        });
        EXPECT_TRUE(client.queryVersion(destination, text));
        again.join();
        EXPECT_EQ(text, row.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TargetClientLoopback,
    ::testing::Values(LoopbackRow{"reply from the target's port", Responder::Reply, kVersionReply,
                                  TransactResult::Ok, "2.4.1"},
                      LoopbackRow{"reply with the OK flag clear", Responder::Reply, kVersionRefused,
                                  TransactResult::Refused, ""},
                      LoopbackRow{"the request comes back", Responder::Reply, kVersionQuery, TransactResult::Echoed, ""},
                      LoopbackRow{"a good reply from another port is not the target's", Responder::ReplyFromOtherPort,
                                  kVersionReply, TransactResult::Timeout, ""},
                      LoopbackRow{"nobody serves the port", Responder::Nobody, {}, TransactResult::Timeout, ""}),
    [](const ::testing::TestParamInfo<LoopbackRow> &info) {
        std::string n;
        for (const char *c = info.param.name; *c; ++c)
            n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return n;
    });

TEST(Clock, NowMicrosIsMonotonic)
{
    const int64_t a = nowMicros();
    const int64_t b = nowMicros();
    EXPECT_GE(b, a);
}

} // namespace
