#include "tests/network/GoldenBytes.h"
#include "src/Network/TargetClient.h"
#include "tests/network/ScriptedChannel.h"

#include <gtest/gtest.h>

#include <string>

// The client's encoder and decoder against the hand-written table: every
// request the client sends is compared byte for byte with its row, and the
// row's reply is handed back for the client to decode.

namespace {

using golden::Bytes;

const Bytes &requestOf(size_t row)
{
    return golden::table().at(row).request;
}

TEST(GoldenBytes, ClientSendsTheTableAndReadsItsReplies)
{
    const auto &t = golden::table();
    NodeAddress target;
    target.address[0] = 0xfe;
    target.address[1] = 0x80;
    target.address[15] = 7;
    target.setHostPort(19650);
    target.interfaceIndex = 3;

    ScriptedChannel ch;
    // Answers each request with the reply of the row whose request it is
    // (the Hello to the group is answered from the target's address).
    ch.responder = [&](ScriptedChannel &c, const ScriptedChannel::Sent &s) {
        for (const auto &row : t) {
            if (row.request == s.bytes && !row.reply.empty()) {
                c.after(10, row.reply, target);
                return;
            }
        }
        ADD_FAILURE() << "the client sent a datagram that is in no row";
    };
    TargetClient client(0, "Velmora-9");
    client.setChannel(&ch);
    client.setInterfaces({target});

    TargetMap found;
    ASSERT_TRUE(discover(client, found, 0));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->second.identifier, 0x0004000300020001ull);
    EXPECT_EQ(found.begin()->second.name, "Out-A");

    EXPECT_TRUE(client.probe(target));
    std::string text;
    EXPECT_TRUE(client.queryVersion(target, text));
    EXPECT_EQ(text, "2.4.1");
    EXPECT_TRUE(client.queryUpdateSource(target, text));
    EXPECT_EQ(text, "http://u/x");
    const std::string image = "123";
    EXPECT_TRUE(
        client.transferImage(target, 0, reinterpret_cast<const uint8_t *>(image.data()), image.size(), 0));
    EXPECT_FALSE(client.reboot(target, 2));
    EXPECT_TRUE(client.reboot(target, 1));

    // What went out, in order: three Hellos (one per pass), the Announce,
    // the probe's Hello, the queries, the transfer, the two reboots.
    std::vector<Bytes> expected = {requestOf(0), requestOf(0), requestOf(0), requestOf(1), requestOf(0),
                                   requestOf(3), requestOf(4), requestOf(5), requestOf(6), requestOf(7),
                                   requestOf(8), requestOf(9), requestOf(10)};
    ASSERT_EQ(ch.sent.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("datagram " + std::to_string(i));
        EXPECT_EQ(ch.sent[i].bytes, expected[i]);
    }
}

} // namespace
