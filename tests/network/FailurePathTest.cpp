// The failure paths that no real socket produces on demand (a wait that
// fails, a send that fails for one datagram and not the next), driven by a
// scripted channel with a fake clock, and the mode values of Hello and
// Reboot as they go out. Every expected datagram is written out byte by
// byte.

#include "src/Network/TargetClient.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/network/ScriptedChannel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using scripted::commandOf;
using scripted::node;

// ff02::1 port 19642 (0x4cba) on interface index.
NodeAddress allNodes(uint16_t index)
{
    NodeAddress a;
    a.address[0] = 0xff;
    a.address[1] = 0x02;
    a.address[15] = 0x01;
    const uint8_t port[2] = {0x4c, 0xba}; // network byte order
    std::memcpy(&a.port, port, 2);
    a.interfaceIndex = index;
    return a;
}

// A Hello reply with identifier id (< 0x10000) and a 3-byte name.
Bytes helloReply(uint8_t id, const char name[4])
{
    return {0x64,
            0x00,
            0x1d,
            0x00,
            0x01,
            0x00,
            0x01,
            0x00,
            id,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            uint8_t(name[0]),
            uint8_t(name[1]),
            uint8_t(name[2]),
            0x00,
            0x00,
            0x00,
            0x00,
            0x00};
}
const Bytes kAnnounceReply = {0x64, 0x00, 0x10, 0x00, 0x17, 0x00, 0x01, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class FailurePaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        client.setChannel(&channel);
        client.setInterfaces({node(1, 0, 3), node(2, 0, 4)});
        // An entry the caller had before the search.
        before[node(0x42, 19650, 9)] = TargetInfo{42, "kept"};
    }
    size_t sentWith(uint16_t command) const
    {
        size_t n = 0;
        for (const auto &s : channel.sent)
            n += commandOf(s.bytes) == command;
        return n;
    }

    ScriptedChannel channel;
    TargetClient client{0, "fp"};
    TargetMap before;
};

TEST_F(FailurePaths, DiscoveryWithAFailedWaitLeavesTheResultAsItWas)
{
    // Two targets answer the first Hello; the wait after the second reply
    // fails.
    channel.responder = [](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        if (commandOf(s.bytes) == 0 && c.sent.size() == 1) {
            c.after(100, helloReply(1, "one"), node(7, 19650));
            c.after(200, helloReply(2, "two"), node(8, 19650));
        }
    };
    channel.maxReceives = 2;
    TargetMap result = before;
    EXPECT_FALSE(discover(client, result, 0));
    EXPECT_EQ(result.size(), 1u);
    ASSERT_EQ(result.count(node(0x42, 19650, 9)), 1u);
    EXPECT_EQ(result[node(0x42, 19650, 9)].name, "kept");
    EXPECT_EQ(result[node(0x42, 19650, 9)].identifier, 42u);
    // Nobody was announced to: the search ended at the failed wait.
    EXPECT_EQ(sentWith(22), 0u);
    EXPECT_EQ(sentWith(0), 1u);
}

TEST_F(FailurePaths, DiscoveryWithAFailedAnnouncementKeepsTheTargetsBefore)
{
    // Three targets answer; the announcement to the first is answered, the
    // one to the second cannot be sent.
    channel.responder = [](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        const uint16_t command = commandOf(s.bytes);
        if (command == 0 && c.sent.size() == 1) {
            c.after(100, helloReply(1, "one"), node(7, 19650));
            c.after(200, helloReply(2, "two"), node(8, 19650));
            c.after(300, helloReply(3, "thr"), node(9, 19650));
        }
        if (command == 22) {
            c.after(100, kAnnounceReply, s.destination);
            c.sendFails = true;
        }
    };
    TargetMap result = before;
    EXPECT_FALSE(discover(client, result, 0));
    // The caller's entry and the first target; not the second nor the third.
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[node(0x42, 19650, 9)].name, "kept");
    ASSERT_EQ(result.count(node(7, 19650)), 1u);
    EXPECT_EQ(result[node(7, 19650)].name, "one");
    EXPECT_EQ(result[node(7, 19650)].identifier, 1u);
    EXPECT_EQ(sentWith(22), 1u) << "the failed announcement is not counted as sent";
}

TEST_F(FailurePaths, DiscoveryWithoutInterfacesSendsNothing)
{
    client.setInterfaces({});
    channel.responder = [](ScriptedChannel &, const ScriptedChannel::Sent &) {
        ADD_FAILURE() << "a datagram was sent";
    };
    const int64_t start = channel.clock;
    TargetMap result = before;
    EXPECT_TRUE(discover(client, result, 0));
    EXPECT_TRUE(channel.sent.empty());
    EXPECT_EQ(channel.clock, start) << "nothing was waited for";
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result.begin()->second.name, "kept");
}

TEST_F(FailurePaths, HelloModeOnTheWire)
{
    for (uint8_t mode : {uint8_t(0), uint8_t(1), uint8_t(0x7f), uint8_t(0xff)}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        channel.sent.clear();
        TargetMap result;
        ASSERT_TRUE(discover(client, result, mode));
        const Bytes hello = {0x64, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,
                             mode, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        // Three passes over both interfaces, each to ff02::1 port 19642
        // with the interface's index as scope.
        ASSERT_EQ(channel.sent.size(), 6u);
        for (size_t i = 0; i < 6; ++i) {
            SCOPED_TRACE("datagram " + std::to_string(i));
            EXPECT_EQ(channel.sent[i].bytes, hello);
            EXPECT_EQ(channel.sent[i].destination, allNodes(i % 2 == 0 ? 3 : 4));
        }
    }
}

TEST_F(FailurePaths, RebootModeOnTheWire)
{
    const NodeAddress target = node(7, 19650);
    for (uint8_t mode : {uint8_t(0), uint8_t(1), uint8_t(2), uint8_t(0xff)}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        channel.sent.clear();
        channel.responder = [&](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
            c.after(100, {0x64, 0x00, 0x10, 0x00, 0x25, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},
                    s.destination);
        };
        EXPECT_TRUE(client.reboot(target, mode));
        ASSERT_EQ(channel.sent.size(), 1u);
        EXPECT_EQ(channel.sent[0].bytes, (Bytes{0x64, 0x00, 0x10, 0x00, 0x24, 0x00, 0x00, 0x00, mode, 0x00,
                                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
        EXPECT_EQ(channel.sent[0].destination, target);
    }
}

TEST_F(FailurePaths, TransactionWithAFailedSendOrWait)
{
    const NodeAddress target = node(7, 19650);
    const Bytes probe = {0x64, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes reply = {1, 2, 3};
    channel.sendFails = true;
    EXPECT_EQ(client.transact(target, probe, 1, reply), TransactResult::Failed);
    EXPECT_TRUE(reply.empty());
    channel.sendFails = false;
    channel.maxReceives = 0; // every wait fails
    EXPECT_EQ(client.transact(target, probe, 1, reply), TransactResult::Failed);
    std::string text = "stale";
    EXPECT_FALSE(client.queryVersion(target, text)) << "a failed wait is no silent target";
    EXPECT_EQ(text, "");
    EXPECT_FALSE(client.announce(target));
}

// A target with one slot of 4-byte blocks that answers its queries and
// acknowledges every block, until the test's fault strikes.
void scriptTransferTarget(ScriptedChannel &ch)
{
    ch.responder = [](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        const Bytes &b = s.bytes;
        switch (commandOf(b)) {
        case 26:
            if (b[8] == 0)
                c.after(50,
                        {0x64, 0x00, 0x10, 0x00, 0x1b, 0x00, 0x01, 0x00, 0x01, 0x00, 0xff, 0xff, 0, 0, 0, 0},
                        s.destination);
            else
                c.after(50,
                        {0x64, 0x00, 0x10, 0x00, 0x1b, 0x00, 0x01, 0x00, 0x01, 0x00, 0x03, 0x00, 0x03, 0x00,
                         0, 0},
                        s.destination);
            break;
        case 28:
            c.after(50,
                    {0x64, 0x00, 0x10, 0x00, 0x1d, 0x00, 0x01, 0x00, 0x01, 0x00, b[10], b[11], 0, 0, 0, 0},
                    s.destination);
            break;
        case 30:
            c.after(
                50,
                {0x64, 0x00, 0x10, 0x00, 0x1f, 0x00, 0x01, 0x00, 0x01, 0x00, b[10], b[11], 0xff, 0xff, 0, 0},
                s.destination);
            break;
        }
    };
}

TEST_F(FailurePaths, TransferEndsAtAFailedWaitOrSend)
{
    const std::string image = "123456789";
    const auto *bytes = reinterpret_cast<const uint8_t *>(image.data());
    const NodeAddress target = node(7, 19650);
    const struct {
        const char *name;
        size_t failAfterReceives;  // waits fail after this many receives
        size_t sendsBeforeFailure; // sends fail after this many
        bool ok;
        size_t blocks; // DataBlocks sent
    } rows[] = {
        {"no fault", 1000, 1000, true, 3},
        {"the first acknowledgement wait fails", 2, 1000, false, 1},
        {"the third acknowledgement wait fails", 4, 1000, false, 3},
        {"the second block cannot be sent", 1000, 3, false, 1},
        {"the check cannot be sent", 1000, 5, false, 3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedChannel ch;
        scriptTransferTarget(ch);
        ch.maxReceives = row.failAfterReceives;
        auto script = ch.responder;
        const size_t limit = row.sendsBeforeFailure;
        ch.responder = [script, limit](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
            script(c, s);
            if (c.sent.size() >= limit)
                c.sendFails = true;
        };
        client.setChannel(&ch);
        EXPECT_EQ(client.transferImage(target, 0, bytes, image.size(), 1), row.ok);
        size_t blocks = 0;
        for (const auto &s : ch.sent)
            blocks += commandOf(s.bytes) == 28;
        EXPECT_EQ(blocks, row.blocks);
        client.setChannel(&channel);
    }
}

} // namespace
