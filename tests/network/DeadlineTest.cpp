#include "src/Network/TargetClient.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/network/ScriptedChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// Every wait of the protocol holds its deadline whatever arrives: the
// transaction, discovery's listen windows and announcements, and the
// transfer's acknowledgement wait, driven by a scripted channel with a fake
// clock. A flood has a datagram waiting at every moment and every receive
// costs fake time, so a reader that reads while data waits never ends on
// its own; the channel then fails its waits after a bound, which turns such
// a loop into a visible failure.

namespace {

using Bytes = std::vector<uint8_t>;
using scripted::commandOf;
using scripted::node;

// A header written out field by field (not by the codec): magic 100,
// lengthWord, command, flags, p0..p3, all little-endian; then the payload
// and its zero padding.
Bytes datagram(uint16_t command, uint16_t flags, uint16_t p0 = 0, uint16_t p1 = 0, uint16_t p2 = 0,
               uint16_t p3 = 0, const std::string &payload = std::string())
{
    const size_t length = (payload.size() + 16 + 7) / 8 * 8;
    const uint16_t word = uint16_t(length | (length - 16 - payload.size()));
    Bytes d;
    for (uint16_t v : {uint16_t(100), word, command, flags, p0, p1, p2, p3}) {
        d.push_back(uint8_t(v & 0xff));
        d.push_back(uint8_t(v >> 8));
    }
    d.insert(d.end(), payload.begin(), payload.end());
    d.resize(length, 0);
    return d;
}

class Deadlines : public ::testing::Test {
protected:
    void SetUp() override
    {
        client.setChannel(&channel);
        client.setInterfaces({node(1, 0, 3), node(2, 0, 4)});
        channel.floodDatagram = {datagram(99, 1), node(0x99, 4444)};
        // Large enough that a loop that holds its deadline never reaches it.
        channel.maxReceives = 2000000;
    }
    int64_t elapsedSince(int64_t start) const { return channel.clock - start; }

    ScriptedChannel channel;
    TargetClient client{0, "deadline-test"};
    const NodeAddress target = node(7, 19650);
};

TEST_F(Deadlines, TransactionEndsOnTimeUnderAFloodAndStillTakesAReply)
{
    const struct {
        const char *name;
        bool flood;
        int64_t replyAfter; // < 0: no reply
        TransactResult result;
        // Receive errors, one every 10 ms from the start: the socket layer
        // hands them on as empty datagrams (on Windows a datagram to a port
        // nobody serves comes back as such an error, "port unreachable").
        int receiveErrors = 0;
    } rows[] = {
        {"quiet silent target", false, -1, TransactResult::Timeout},
        {"flooded silent target", true, -1, TransactResult::Timeout},
        {"flooded answering target", true, 50000, TransactResult::Ok},
        {"reply after the deadline", true, 150000, TransactResult::Timeout},
        {"receive errors from a closed port end as a time-out", false, -1, TransactResult::Timeout, 12},
        {"receive errors, then the reply", false, 50000, TransactResult::Ok, 4},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        ScriptedChannel &ch = channel;
        ch.flood = r.flood;
        ch.receives = 0;
        for (int e = 0; e < r.receiveErrors; ++e)
            ch.after(1000 + 10000 * e, Bytes(), target);
        if (r.replyAfter >= 0)
            ch.after(r.replyAfter, datagram(1, 1, 5, 0, 0, 0, "t"), target);
        const int64_t start = ch.clock;
        Bytes reply;
        EXPECT_EQ(client.transact(target, datagram(0, 0), 1, reply), r.result);
        // 100 ms, plus at most one receive past the deadline.
        EXPECT_LE(elapsedSince(start), 100000 + ch.receiveCost);
        if (r.result == TransactResult::Timeout) {
            EXPECT_GE(elapsedSince(start), 100000);
        }
        ch = ScriptedChannel();
        SetUp();
    }
}

TEST_F(Deadlines, DiscoveryUnderAFloodEndsAtItsQuietTime)
{
    for (bool flood : {false, true}) {
        SCOPED_TRACE(flood ? "flood" : "quiet");
        channel.flood = flood;
        const int64_t start = channel.clock;
        TargetMap found;
        EXPECT_TRUE(discover(client, found, 0));
        EXPECT_TRUE(found.empty());
        // Three passes over two interfaces of 30 ms each.
        EXPECT_GE(elapsedSince(start), 3 * 2 * 30000);
        EXPECT_LE(elapsedSince(start), 3 * 2 * (30000 + channel.receiveCost));
    }
}

TEST_F(Deadlines, OneHostAnsweringFromThousandsOfPortsCannotStallDiscovery)
{
    // Every Hello is answered from 2000 ports of one host, within 1 ms; the
    // host never answers an announcement.
    channel.responder = [](ScriptedChannel &ch, const ScriptedChannel::Sent &s) {
        if (commandOf(s.bytes) != 0)
            return;
        for (uint16_t port = 0; port < 2000; ++port)
            ch.after(1 + port / 4, datagram(1, 1, 0x1234, 0, 0, 0, "flood host"),
                     node(9, uint16_t(20000 + port)));
    };
    const int64_t start = channel.clock;
    TargetMap found;
    EXPECT_TRUE(discover(client, found, 0));
    EXPECT_EQ(found.size(), kMaxDiscoverySources);
    // The listen windows, then one announce deadline (the announcement under
    // way when it passes may run its own 100 ms to the end).
    EXPECT_LE(elapsedSince(start), 3 * 2 * 31000 + int64_t(kAnnounceMicros) + 100000 + 10000);
    size_t announces = 0;
    for (const auto &s : channel.sent)
        announces += commandOf(s.bytes) == 22;
    EXPECT_GE(announces, kAnnounceMicros / 100000);
    EXPECT_LE(announces, kAnnounceMicros / 100000 + 1);
}

TEST_F(Deadlines, RealTargetsAreAllKeptNextToAPortFlood)
{
    // Two real targets answer first; a third host then answers from
    // thousands of ports. Sources that answered first stay, and a real
    // target answering again replaces its reply even when the cap is full.
    int hellos = 0;
    channel.responder = [&hellos](ScriptedChannel &ch, const ScriptedChannel::Sent &s) {
        const uint16_t c = commandOf(s.bytes);
        if (c == 22) {
            ch.after(100, datagram(23, 1), s.destination);
            return;
        }
        if (c != 0)
            return;
        ++hellos;
        ch.after(1, datagram(1, 1, 1, 0, 0, 0, "one-" + std::to_string(hellos)), node(1, 19650));
        ch.after(2, datagram(1, 1, 2, 0, 0, 0, "two"), node(2, 19650));
        for (uint16_t port = 0; port < 1000; ++port)
            ch.after(3, datagram(1, 1, 3, 0, 0, 0, "many"), node(9, uint16_t(30000 + port)));
    };
    TargetMap found;
    EXPECT_TRUE(discover(client, found, 0));
    EXPECT_EQ(found.size(), kMaxDiscoverySources);
    ASSERT_EQ(found.count(node(1, 19650)), 1u);
    ASSERT_EQ(found.count(node(2, 19650)), 1u);
    EXPECT_EQ(found[node(1, 19650)].name, "one-6");
}

// A target whose slot takes 1024-byte blocks, one per window, and which
// acknowledges each block ackDelay after it arrives (never when ackDelay is
// negative); the queries of the transfer are answered at once.
void scriptTarget(ScriptedChannel &ch, int64_t ackDelay)
{
    ch.responder = [ackDelay](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        const Bytes &b = s.bytes;
        const uint16_t p0 = uint16_t(b[8] | (b[9] << 8));
        const uint16_t p1 = uint16_t(b[10] | (b[11] << 8));
        switch (commandOf(b)) {
        case 26:
            c.after(50, p0 == 0 ? datagram(27, 1, 1, 0xFFFF) : datagram(27, 1, p0, 1023, 0, 15),
                    s.destination);
            break;
        case 28:
            if (ackDelay >= 0)
                c.after(ackDelay, datagram(29, 1, uint16_t(p0 & 0x7fff), p1), s.destination);
            break;
        case 30:
            c.after(50, datagram(31, 1, p0, p1, 0xFFFF), s.destination);
            break;
        }
    };
}

TEST_F(Deadlines, AckWaitOfASilentTargetEndsAfterFiveSecondsUnderAFlood)
{
    for (bool flood : {false, true}) {
        SCOPED_TRACE(flood ? "flood" : "quiet");
        scriptTarget(channel, -1);
        channel.receiveCost = 20;
        const Bytes image(3000, 0x5a);
        channel.sent.clear();
        // The flood starts once the queries are through.
        const int64_t start = channel.clock;
        bool started = false;
        auto script = channel.responder;
        channel.responder = [&](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
            script(c, s);
            if (commandOf(s.bytes) == 28 && !started) {
                started = true;
                c.flood = flood;
            }
        };
        EXPECT_FALSE(client.transferImage(target, 0, image.data(), image.size(), 1));
        channel.flood = false;
        size_t blocks = 0;
        for (const auto &s : channel.sent)
            blocks += commandOf(s.bytes) == 28;
        // The first block and 49 resends, one per silent window of 100 ms.
        EXPECT_EQ(blocks, 50u);
        EXPECT_GE(elapsedSince(start), 50 * 100000);
        EXPECT_LE(elapsedSince(start), 50 * (100000 + channel.receiveCost) + 1000);
    }
}

TEST_F(Deadlines, TransferSucceedsUnderAFlood)
{
    scriptTarget(channel, 200);
    const Bytes image(5000, 0xa5);
    bool started = false;
    auto script = channel.responder;
    channel.responder = [&](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        script(c, s);
        if (commandOf(s.bytes) == 28 && !started) {
            started = true;
            c.flood = true;
        }
    };
    // Flood datagrams are not acknowledgements; the acknowledgements still
    // get through between them.
    EXPECT_TRUE(client.transferImage(target, 0, image.data(), image.size(), 1));
}

} // namespace

namespace {

// The transfer's target query, slot query and check change nothing on the
// target: a lost reply is asked for again, a few times and only after a
// time-out; a refusal still ends the transfer at once.
TEST_F(Deadlines, TransferAsksItsQueriesAgainWhenRepliesAreLost)
{
    enum Query { TargetQuery, SlotQuery, Check };
    struct Row {
        const char *name;
        Query query;
        int lost;     // replies to that query the link loses
        bool refuse;  // the reply after the losses has the OK flag clear
        bool ok;
        size_t asked; // requests of that query on the wire
    };
    const Row rows[] = {
        {"target query, one lost", TargetQuery, 1, false, true, 2},
        {"target query, four lost", TargetQuery, 4, false, true, 5},
        {"target query, five lost", TargetQuery, 5, false, false, 5},
        {"target query refused", TargetQuery, 0, true, false, 1},
        {"slot query, four lost", SlotQuery, 4, false, true, 5},
        {"slot query, all lost", SlotQuery, 1000, false, false, 5},
        {"check, four lost", Check, 4, false, true, 5},
        {"check, all lost", Check, 1000, false, false, 5},
        {"check refused after a loss", Check, 1, true, false, 2},
    };
    const Bytes image(2500, 0x3c);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        channel.sent.clear();
        scriptTarget(channel, 30);
        auto script = channel.responder;
        int seen = 0;
        size_t asked = 0;
        channel.responder = [&](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
            const Bytes &b = s.bytes;
            const uint16_t p0 = uint16_t(b[8] | (b[9] << 8));
            const uint16_t p2 = uint16_t(b[12] | (b[13] << 8));
            Query q;
            if (commandOf(b) == 26)
                q = p0 == 0 ? TargetQuery : SlotQuery;
            else if (commandOf(b) == 30 && p2 == 0xFFFF)
                q = Check;
            else
                return script(c, s);
            if (q != row.query)
                return script(c, s);
            ++asked;
            if (seen++ < row.lost)
                return;
            if (row.refuse) {
                c.after(50, datagram(commandOf(b) + 1, 0, p0), s.destination);
                return;
            }
            script(c, s);
        };
        const int64_t start = channel.clock;
        EXPECT_EQ(client.transferImage(target, 0, image.data(), image.size(), 1), row.ok);
        EXPECT_EQ(asked, row.asked);
        // Every lost reply costs one transaction of 100 ms, no more.
        const int64_t lostTime = int64_t(std::min<size_t>(size_t(row.lost), row.asked)) * 100000;
        EXPECT_GE(elapsedSince(start), lostTime);
        EXPECT_LE(elapsedSince(start), lostTime + 100000);
        size_t blocks = 0;
        for (const auto &s : channel.sent)
            blocks += commandOf(s.bytes) == 28;
        // Nothing reaches the slot before both queries are answered.
        EXPECT_EQ(blocks, row.query != Check && !row.ok ? 0u : 3u);
    }
}

} // namespace
