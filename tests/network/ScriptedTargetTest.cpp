// The failure paths of transactions, discovery and the image transfer that
// a well-behaved emulator never takes, against velmora-scripted-target in a
// target namespace of the private test network (scripts/testnet.sh). The
// target answers by rules of literal bytes, and every datagram it received
// is compared with literal bytes too: nothing here is built or read by the
// protocol's own codec.

#include "src/Network/AddressText.h"
#include "src/Network/TargetClient.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/network/SimProcess.h"
#include "tests/support/CtlRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// What the scripted target logged for one datagram it received.
struct Got {
    std::string socket; // cmd, other or disc
    size_t length = 0;
    std::string hex; // the first 48 bytes
    std::string rule;
};

std::vector<Got> parseLog(const std::string &log)
{
    std::vector<Got> out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 4, "got ") != 0)
            continue;
        std::istringstream words(line.substr(4));
        Got g;
        std::string ruleWord;
        words >> g.socket >> g.length >> g.hex >> ruleWord >> g.rule;
        out.push_back(g);
    }
    return out;
}

std::vector<std::string> hexOf(const std::vector<Got> &got, const std::string &socket = std::string())
{
    std::vector<std::string> out;
    for (const Got &g : got) {
        if (socket.empty() || g.socket == socket)
            out.push_back(g.hex);
    }
    return out;
}

// Hex text without the spaces that keep the literals readable.
std::string hex(const std::string &spaced)
{
    std::string out;
    for (char c : spaced) {
        if (c != ' ')
            out += c;
    }
    return out;
}

std::vector<std::string> repeat(const std::string &item, size_t n)
{
    return std::vector<std::string>(n, item);
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// CRC-16/USB bit by bit, apart from the table-driven one of the protocol:
// reflected polynomial 0xA001, initial 0xFFFF, final complement.
uint16_t crc16UsbBitwise(const uint8_t *data, size_t size)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return uint16_t(~crc);
}

std::string le16Hex(uint16_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x%02x", v & 0xff, v >> 8);
    return buf;
}

NodeAddress targetAt(uint16_t port)
{
    NodeAddress a;
    parseAddress(envText("VELMORA_T1_ADDR"), a.address);
    a.interfaceIndex = uint16_t(std::atoi(envText("VELMORA_C1_INDEX").c_str()));
    a.setHostPort(port);
    return a;
}

std::string scopedText(const NodeAddress &a)
{
    return formatAddress(a.address) + "%" + std::to_string(a.interfaceIndex) + "," +
           std::to_string(a.hostPort());
}

// Failed parts of the running test so far.
int failedParts()
{
    const testing::TestResult *r = testing::UnitTest::GetInstance()->current_test_info()->result();
    int n = 0;
    for (int i = 0; i < r->total_part_count(); ++i)
        n += r->GetTestPartResult(i).failed();
    return n;
}

class Scripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string problem = testNetworkProblem();
        if (!problem.empty())
            FAIL() << problem;
        ASSERT_EQ(::access(VELMORA_SCRIPTED_TARGET, X_OK), 0) << VELMORA_SCRIPTED_TARGET << " is missing";
        ASSERT_TRUE(client.open()) << "no link-local interface in the client namespace";
    }

    // Starts the scripted target in namespace 1 with these rules (the first
    // that matches a datagram decides).
    void start(const std::vector<std::string> &rules, std::vector<std::string> args = {})
    {
        for (const auto &r : rules) {
            args.push_back("--rule");
            args.push_back(r);
        }
        failuresAtStart_ = failedParts();
        std::string error;
        ASSERT_TRUE(target_.startProgram(1, VELMORA_SCRIPTED_TARGET, args, error)) << error;
    }
    // Stops the target and returns what it received, in order.
    std::vector<Got> stop()
    {
        target_.stop();
        return parseLog(target_.output());
    }
    // After each row: a row that failed shows the target's whole log.
    void showLogIfFailed(const std::string &row)
    {
        if (failedParts() > failuresAtStart_)
            std::printf("---- log of the scripted target, %s:\n%s----\n", row.c_str(),
                        target_.output().c_str());
        failuresAtStart_ = failedParts();
    }
    void TearDown() override { showLogIfFailed("at the end of the test"); }

    TargetClient client{TargetClient::kAllOnes, "net-test"};
    const NodeAddress target = targetAt(19650);
    SimProcess target_;
    int failuresAtStart_ = 0;
};

// ------------------------------------------------------------ the literals

// Requests of a transfer of "123456789" into slot index 0 (slot number 1)
// with blocks of 4 bytes, stop-and-wait (last-of-burst bit 0x8000 on every
// block), as the scripted target logs them.
const std::string kTargetQuery = "64 00 10 00 1a 00 00 00 00 00 00 00 00 00 00 00";
const std::string kSlotQuery = "64 00 10 00 1a 00 00 00 01 00 00 00 00 00 00 00";
// lengthWord 0x1c = 24 | 4 pad bytes; 0x1f = 24 | 7 pad bytes.
const std::string kBlock0 = "64 00 1c 00 1c 00 00 00 01 80 00 00 00 00 00 00 31 32 33 34 00 00 00 00";
const std::string kBlock1 = "64 00 1c 00 1c 00 00 00 01 80 01 00 01 00 00 00 35 36 37 38 00 00 00 00";
const std::string kBlock2 = "64 00 1f 00 1c 00 00 00 01 80 02 00 02 00 00 00 39 00 00 00 00 00 00 00";
// CRC-16/USB of "123456789" is 0xB4C8 (its published check value).
const std::string kCheck = "64 00 10 00 1e 00 00 00 01 00 c8 b4 ff ff 00 00";

// The replies of a target with one slot of block size 4, window 4, one
// window (each sent as value - 1), no burst limit.
const std::string kOneSlot = "64 00 10 00 1b 00 01 00 01 00 ff ff 00 00 00 00";
const std::string kGeometry = "64 00 10 00 1b 00 01 00 01 00 03 00 03 00 00 00";
// BlockAck for slot 1 naming the sequence number the block carried (bytes
// 10 and 11 of the request).
const std::string kAck = "64 00 10 00 1d 00 01 00 01 00 r10 r11 00 00 00 00";
const std::string kConfirm = "64 00 10 00 1f 00 01 00 01 00 c8 b4 ff ff 00 00";

std::vector<std::string> goodTransferRules()
{
    return {kTargetQuery + " => " + kOneSlot, kSlotQuery + " => " + kGeometry,
            "64 00 .. 00 1c 00 00 00 01 80 * => " + kAck, kCheck + " => " + kConfirm};
}

const std::string kImage = "123456789";

struct TransferRow {
    const char *name;
    // Rules placed before those of the good target, so they decide first.
    std::vector<std::string> rules;
    bool ok;
    // Every datagram the target received, in order.
    std::vector<std::string> received;
    uint64_t burst = 1;
};

TEST_F(Scripted, TransferFailurePathsByLiteralBytes)
{
    const std::string tq = hex(kTargetQuery), sq = hex(kSlotQuery), check = hex(kCheck);
    const std::string b0 = hex(kBlock0), b1 = hex(kBlock1), b2 = hex(kBlock2);
    const std::vector<std::string> all = {tq, sq, b0, b1, b2, check};
    // A query that gets no answer it can take is asked five times in all.
    const std::vector<std::string> allAsked5 = {tq, sq, b0, b1, b2, check, check, check, check, check};
    const std::string anyLast = "64 00 .. 00 1c 00 00 00 01 80 *";
    const TransferRow rows[] = {
        {"a good target", {}, true, all},
        // The target query.
        {"target query unanswered", {kTargetQuery + " => silent"}, false, {tq, tq, tq, tq, tq}},
        {"target query refused",
         {kTargetQuery + " => 64 00 10 00 1b 00 00 00 01 00 ff ff 00 00 00 00"},
         false,
         {tq}},
        {"target query refused from another port",
         {kTargetQuery + " => other 64 00 10 00 1b 00 00 00 01 00 ff ff 00 00 00 00"},
         false,
         {tq}},
        {"target query answered from another port",
         {kTargetQuery + " => other " + kOneSlot},
         false,
         {tq, tq, tq, tq, tq}},
        {"target query echoed", {kTargetQuery + " => " + kTargetQuery}, false, {tq}},
        {"a target without slots",
         {kTargetQuery + " => 64 00 10 00 1b 00 01 00 00 00 ff ff 00 00 00 00"},
         false,
         {tq}},
        // The slot query.
        {"slot query unanswered", {kSlotQuery + " => silent"}, false, {tq, sq, sq, sq, sq, sq}},
        {"slot query refused",
         {kSlotQuery + " => 64 00 10 00 1b 00 00 00 01 00 03 00 03 00 00 00"},
         false,
         {tq, sq}},
        {"slot query answered from another port",
         {kSlotQuery + " => other " + kGeometry},
         false,
         {tq, sq, sq, sq, sq, sq}},
        {"slot echo is the slot index 0, not the slot number 1",
         {kSlotQuery + " => 64 00 10 00 1b 00 01 00 00 00 03 00 03 00 00 00"},
         false,
         {tq, sq}},
        {"slot echo names slot 2",
         {kSlotQuery + " => 64 00 10 00 1b 00 01 00 02 00 03 00 03 00 00 00"},
         false,
         {tq, sq}},
        {"a slot of 8 bytes for 9",
         {kSlotQuery + " => 64 00 10 00 1b 00 01 00 01 00 03 00 01 00 00 00"},
         false,
         {tq, sq}},
        // The acknowledgement wait: what is not an acknowledgement is
        // dropped, neither resent for nor failed on.
        {"malformed, foreign and other datagrams before each acknowledgement",
         {anyLast +
          " => 65 00 10 00 1d 00 01 00 01 00 r10 r11 00 00 00 00"            // magic 101
          " | 64 00 18 00 1d 00 01 00 01 00 r10 r11 00 00 00 00"             // says 24 bytes, has 16
          " | 64 00 10 00 1d 00 01 00"                                       // 8 bytes
          " | 64 00 10 00 1b 00 01 00 01 00 r10 r11 00 00 00 00"             // a SlotInfo reply
          " | 64 00 10 00 63 00 01 00 01 00 r10 r11 00 00 00 00"             // command 99
          " | 64 00 10 00 1c 00 00 00 01 80 r10 r11 00 00 00 00"             // a DataBlock
          " | other 64 00 18 00 21 00 01 00 00 00 00 00 00 00 00 00 78 00*7" // a VersionReply
          " | +5 " +
          kAck},
         true,
         all},
        {"acknowledgements from another port", {anyLast + " => other " + kAck}, true, all},
        {"an older sequence number once resends the burst",
         {"64 00 1c 00 1c 00 00 00 01 80 01 00 times=1 * => 64 00 10 00 1d 00 01 00 01 00 00 00 00 00 00 00"},
         true,
         {tq, sq, b0, b1, b1, b2, check}},
        {"acknowledgement without the OK flag",
         {anyLast + " => 64 00 10 00 1d 00 00 00 01 00 r10 r11 00 00 00 00"},
         false,
         {tq, sq, b0}},
        {"acknowledgement for slot 2",
         {anyLast + " => 64 00 10 00 1d 00 01 00 02 00 r10 r11 00 00 00 00"},
         false,
         {tq, sq, b0}},
        // The check.
        {"check refused", {kCheck + " => 64 00 10 00 1f 00 00 00 01 00 c8 b4 ff ff 00 00"}, false, all},
        {"check echoes another CRC",
         {kCheck + " => 64 00 10 00 1f 00 01 00 01 00 c9 b4 ff ff 00 00"},
         false,
         all},
        {"check echoes slot 0", {kCheck + " => 64 00 10 00 1f 00 01 00 00 00 c8 b4 ff ff 00 00"}, false, all},
        {"check reply with a write state in place of 0xFFFF",
         {kCheck + " => 64 00 10 00 1f 00 01 00 01 00 c8 b4 00 00 00 00"},
         false,
         all},
        {"check unanswered", {kCheck + " => silent"}, false, allAsked5},
        {"check answered from another port", {kCheck + " => other " + kConfirm}, false, allAsked5},
        // Burst limits: none from either side makes the window one burst,
        // a target limit of 4 bytes makes every block its own.
        {"no burst limit: one burst, acknowledged once",
         {},
         true,
         {tq, sq, hex("64 00 1c 00 1c 00 00 00 01 00 00 00 00 00 00 00 31 32 33 34 00 00 00 00"),
          hex("64 00 1c 00 1c 00 00 00 01 00 01 00 01 00 00 00 35 36 37 38 00 00 00 00"), b2, check},
         0},
        {"a target burst limit of 4 bytes",
         {kTargetQuery + " => 64 00 10 00 1b 00 01 00 01 00 04 00 00 00 00 00"},
         true,
         all,
         0},
        // The resend bounds: 500 resends of one burst answered with an older
        // sequence number, or 50 windows of 100 ms without an answer.
        {"every acknowledgement names another block",
         {anyLast + " => 64 00 10 00 1d 00 01 00 01 00 ff ff 00 00 00 00"},
         false,
         join({{tq, sq}, repeat(b0, 501)})},
        {"no acknowledgement at all", {anyLast + " => silent"}, false, join({{tq, sq}, repeat(b0, 50)})},
    };
    for (const TransferRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> rules = row.rules;
        for (const auto &r : goodTransferRules())
            rules.push_back(r);
        ASSERT_NO_FATAL_FAILURE(start(rules));
        const bool ok = client.transferImage(target, 0, reinterpret_cast<const uint8_t *>(kImage.data()),
                                             kImage.size(), row.burst);
        const std::vector<Got> got = stop();
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(hexOf(got), row.received);
        for (const Got &g : got)
            EXPECT_EQ(g.socket, "cmd") << "everything goes to the command port";
        showLogIfFailed(row.name);
    }
}

// The largest block that fits one datagram: 16 + 65504 = 65520 bytes, the
// largest multiple of 8 that the 13 length bits and an IPv6 UDP datagram
// both carry.
TEST_F(Scripted, TransferDatagramSizeBound)
{
    const struct {
        const char *name;
        const char *blockSize; // p1 of the slot reply: block size - 1
        size_t image;
        bool ok;
        size_t datagram; // its length; 0 = no block sent
        const char *lengthWord;
    } rows[] = {
        {"65504-byte blocks", "df ff", 65504, true, 65520, "f0ff"},
        {"65505-byte blocks would need 65528 bytes", "e0 ff", 65505, false, 0, ""},
        {"65536-byte blocks of a 1000-byte image", "ff ff", 1000, true, 1016, "f803"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes image(row.image);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = uint8_t(i * 7 + 1);
        const uint16_t crc = crc16UsbBitwise(image.data(), image.size());
        ASSERT_NO_FATAL_FAILURE(start({
            kTargetQuery + " => " + kOneSlot,
            kSlotQuery + " => 64 00 10 00 1b 00 01 00 01 00 " + row.blockSize + " 00 00 00 00",
            "64 00 .. .. 1c 00 00 00 01 80 * => " + kAck,
            "64 00 10 00 1e 00 00 00 01 00 .. .. ff ff 00 00 => 64 00 10 00 1f 00 01 00 01 00 r10 r11 ff ff "
            "00 00",
        }));
        const bool ok = client.transferImage(target, 0, image.data(), image.size(), 1);
        const std::vector<Got> got = stop();
        EXPECT_EQ(ok, row.ok);
        if (row.datagram == 0) {
            EXPECT_EQ(hexOf(got), (std::vector<std::string>{hex(kTargetQuery), hex(kSlotQuery)}));
        } else {
            ASSERT_EQ(got.size(), 4u);
            EXPECT_EQ(got[2].length, row.datagram);
            EXPECT_EQ(got[2].hex.substr(0, 32),
                      std::string("6400") + row.lengthWord + "1c0000000180000000000000");
            EXPECT_EQ(got[3].hex, hex("64 00 10 00 1e 00 00 00 01 00") + le16Hex(crc) + "ffff0000");
        }
        showLogIfFailed(row.name);
    }
}

// An image of 65600 blocks of 8 bytes, windows of 64 blocks, one burst per
// window: the block sequence number wraps from 0xFFFF to 0 in window 1024,
// the window number goes on, and the target's acknowledgement of 0xFFFF ends
// its burst.
TEST_F(Scripted, SequenceNumberWrapsPast65535)
{
    constexpr size_t kBlocks = 65600;
    Bytes image(kBlocks * 8, 0);
    for (size_t k = 0; k < kBlocks; ++k) {
        for (int b = 0; b < 8; ++b)
            image[k * 8 + size_t(b)] = uint8_t(uint64_t(k) >> (8 * b));
    }
    const uint16_t crc = crc16UsbBitwise(image.data(), image.size());
    // Block size 8, window 64, 1100 windows.
    ASSERT_NO_FATAL_FAILURE(start({
        kTargetQuery + " => " + kOneSlot,
        kSlotQuery + " => 64 00 10 00 1b 00 01 00 01 00 07 00 3f 00 4b 04",
        "64 00 18 00 1c 00 00 00 01 80 * => " + kAck,
        "64 00 10 00 1e 00 00 00 01 00 .. .. ff ff 00 00 => 64 00 10 00 1f 00 01 00 01 00 r10 r11 ff ff 00 "
        "00",
    }));
    const bool ok = client.transferImage(target, 0, image.data(), image.size(), 0);
    const std::vector<Got> got = stop();
    EXPECT_TRUE(ok);
    ASSERT_GE(got.size(), 2 + kBlocks + 1);

    // Block k by the rules: sequence k mod 65536, index k mod 64, window
    // k / 64, the last-of-burst bit on each window's last block; its
    // payload is k.
    auto block = [&](size_t k) {
        const uint16_t p0 = uint16_t(0x0001 | ((k % 64 == 63 || k + 1 == kBlocks) ? 0x8000 : 0));
        std::string payload;
        for (int b = 0; b < 8; ++b)
            payload += le16Hex(uint16_t((uint64_t(k) >> (8 * b)) & 0xff)).substr(0, 2);
        return "640018001c000000" + le16Hex(p0) + le16Hex(uint16_t(k & 0xffff)) + le16Hex(uint16_t(k % 64)) +
               le16Hex(uint16_t(k / 64)) + payload;
    };
    // Around the wrap, written out.
    EXPECT_EQ(block(65535), hex("64 00 18 00 1c 00 00 00 01 80 ff ff 3f 00 ff 03 ff ff 00 00 00 00 00 00"));
    EXPECT_EQ(block(65536), hex("64 00 18 00 1c 00 00 00 01 00 00 00 00 00 00 04 00 00 01 00 00 00 00 00"));
    EXPECT_EQ(block(65599), hex("64 00 18 00 1c 00 00 00 01 80 3f 00 3f 00 00 04 3f 00 01 00 00 00 00 00"));
    // Every block in order. A burst sent again after a late acknowledgement
    // (a loaded machine) repeats blocks of the current window only.
    size_t k = 0;
    size_t resent = 0;
    int wrong = 0;
    for (size_t i = 2; i + 1 < got.size() && wrong < 5; ++i) {
        if (k < kBlocks && got[i].hex == block(k)) {
            ++k;
            continue;
        }
        bool repeat = false;
        const size_t windowStart = k == 0 ? 0 : (k - 1) - (k - 1) % 64;
        for (size_t j = windowStart; j < k && !repeat; ++j)
            repeat = got[i].hex == block(j);
        if (repeat) {
            ++resent;
            continue;
        }
        ++wrong;
        ADD_FAILURE() << "datagram " << i << ": " << got[i].hex << ", expected block " << k << ": "
                      << (k < kBlocks ? block(k) : std::string("none"));
    }
    EXPECT_EQ(k, kBlocks);
    if (resent > 0)
        std::printf("%zu blocks were sent again\n", resent);
    EXPECT_EQ(got.back().hex, hex("64 00 10 00 1e 00 00 00 01 00") + le16Hex(crc) + "ffff0000");
}

// ----------------------------------------------------------- transactions

const std::string kVersionQuery = "64 00 10 00 20 00 00 00 00 00 00 00 00 00 00 00";
// "2.4.1": 5 bytes in a 24-byte datagram, lengthWord 24 | 3.
const std::string kVersionReply = "64 00 1b 00 21 00 01 00 00 00 00 00 00 00 00 00 32 2e 34 2e 31 00 00 00";
const std::string kVersionRefused = "64 00 10 00 21 00 00 00 00 00 00 00 00 00 00 00";

TEST_F(Scripted, TransactionOutcomesByLiteralBytes)
{
    const struct {
        const char *name;
        std::string action; // the answer to the VersionQuery
        TransactResult result;
        std::string reply; // the reply handed out, in hex ("" = none)
        std::string text;  // queryVersion's text
    } rows[] = {
        {"reply", kVersionReply, TransactResult::Ok, hex(kVersionReply), "2.4.1"},
        {"reply from another port", "other " + kVersionReply, TransactResult::Timeout, "", ""},
        {"refusal", kVersionRefused, TransactResult::Refused, hex(kVersionRefused), ""},
        {"refusal from another port", "other " + kVersionRefused, TransactResult::Refused,
         hex(kVersionRefused), ""},
        {"echo", kVersionQuery, TransactResult::Echoed, "", ""},
        {"echo from another port", "other " + kVersionQuery, TransactResult::Echoed, "", ""},
        {"silence", "silent", TransactResult::Timeout, "", ""},
        {"a reply after 500 ms", "+500 " + kVersionReply, TransactResult::Timeout, "", ""},
        {"junk first, then the reply",
         "65 00 1b 00 21 00 01 00 00 00 00 00 00 00 00 00 78 78 78 78 78 00 00 00"    // magic 101
         " | 64 00 20 00 21 00 01 00 00 00 00 00 00 00 00 00 78 78 78 78 78 00 00 00" // says 32 bytes
         " | 64 00 10 00 21"                                                          // 5 bytes
         " | 64 00 10 00 23 00 01 00 00 00 00 00 00 00 00 00"                         // a SourceReply
         " | other 64 00 1b 00 21 00 01 00 00 00 00 00 00 00 00 00 78 78 78 78 78 00 00 00"
         " | +20 " +
             kVersionReply,
         TransactResult::Ok, hex(kVersionReply), "2.4.1"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(start({kVersionQuery + " => " + row.action}));
        const Bytes request = {0x64, 0x00, 0x10, 0x00, 0x20, 0x00, 0x00, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        Bytes reply = {0xee};
        const int64_t began = nowMicros();
        const TransactResult r = client.transact(target, request, 0x21, reply);
        const int64_t micros = nowMicros() - began;
        EXPECT_EQ(r, row.result);
        std::string replyHex;
        for (uint8_t b : reply)
            replyHex += le16Hex(b).substr(0, 2);
        EXPECT_EQ(replyHex, row.reply);
        if (row.result == TransactResult::Timeout) {
            EXPECT_GE(micros, 95000);
        }
        EXPECT_LT(micros, 1500000);
        std::string text = "stale";
        EXPECT_TRUE(client.queryVersion(target, text));
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(hexOf(stop()), repeat(hex(kVersionQuery), 2));
        showLogIfFailed(row.name);
    }
}

// Each operation's request, exactly, and what it makes of refusals, replies
// from another port and silence.
TEST_F(Scripted, OperationsRequestsAndVerdicts)
{
    using Op = std::function<bool(TargetClient &, const NodeAddress &, std::string &)>;
    const Op probe = [](TargetClient &c, const NodeAddress &t, std::string &) { return c.probe(t); };
    const Op reboot1 = [](TargetClient &c, const NodeAddress &t, std::string &) { return c.reboot(t, 1); };
    const Op reboot0 = [](TargetClient &c, const NodeAddress &t, std::string &) { return c.reboot(t, 0); };
    const Op reboot255 = [](TargetClient &c, const NodeAddress &t, std::string &) {
        return c.reboot(t, 255);
    };
    const Op announce = [](TargetClient &c, const NodeAddress &t, std::string &) { return c.announce(t); };
    const Op source = [](TargetClient &c, const NodeAddress &t, std::string &s) {
        return c.queryUpdateSource(t, s);
    };
    const std::string hello = "64 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::string helloReply = "64 00 10 00 01 00 01 00 05 00 00 00 00 00 00 00";
    const std::string reboot = "64 00 10 00 24 00 00 00 01 00 00 00 00 00 00 00";
    const std::string rebootReply = "64 00 10 00 25 00 01 00 01 00 00 00 00 00 00 00";
    // "net-test": 8 bytes, no padding, lengthWord 24; flags 1.
    const std::string announceRequest =
        "64 00 18 00 16 00 01 00 00 00 00 00 00 00 00 00 6e 65 74 2d 74 65 73 74";
    const std::string sourceQuery = "64 00 10 00 22 00 00 00 00 00 00 00 00 00 00 00";
    // "http://u/x": 10 bytes in 32, lengthWord 32 | 6.
    const std::string sourceReply =
        "64 00 26 00 23 00 01 00 00 00 00 00 00 00 00 00 68 74 74 70 3a 2f 2f 75 2f 78 00 00 00 00 00 00";
    const struct {
        const char *name;
        Op op;
        std::string rule;
        bool result;
        const char *text; // the text the operation gives, if it gives one
    } rows[] = {
        {"probe answered", probe, hello + " => " + helloReply, true, nullptr},
        {"probe refused", probe, hello + " => 64 00 10 00 01 00 00 00 05 00 00 00 00 00 00 00", false,
         nullptr},
        {"probe answered from another port", probe, hello + " => other " + helloReply, false, nullptr},
        {"reboot mode 1 answered", reboot1, reboot + " => " + rebootReply, true, nullptr},
        {"reboot mode 0", reboot0, "64 00 10 00 24 00 00 00 00 00 00 00 00 00 00 00 => " + rebootReply, true,
         nullptr},
        {"reboot mode 255", reboot255, "64 00 10 00 24 00 00 00 ff 00 00 00 00 00 00 00 => " + rebootReply,
         true, nullptr},
        {"reboot refused from another port", reboot1,
         reboot + " => other 64 00 10 00 25 00 00 00 01 00 00 00 00 00 00 00", false, nullptr},
        {"reboot answered from another port", reboot1, reboot + " => other " + rebootReply, false, nullptr},
        {"announce answered", announce,
         announceRequest + " => 64 00 10 00 17 00 01 00 00 00 00 00 00 00 00 00", true, nullptr},
        {"announce refused: no transport failure", announce,
         announceRequest + " => 64 00 10 00 17 00 00 00 00 00 00 00 00 00 00 00", true, nullptr},
        {"announce unanswered: no transport failure", announce, announceRequest + " => silent", true,
         nullptr},
        {"update source", source, sourceQuery + " => " + sourceReply, true, "http://u/x"},
        {"update source from another port", source, sourceQuery + " => other " + sourceReply, true, ""},
        {"update source refused", source, sourceQuery + " => 64 00 10 00 23 00 00 00 00 00 00 00 00 00 00 00",
         true, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(start({row.rule}));
        std::string text = "stale";
        EXPECT_EQ(row.op(client, target, text), row.result);
        if (row.text != nullptr) {
            EXPECT_EQ(text, row.text);
        }
        const std::vector<Got> got = stop();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].rule, "0") << "the request differs from the literal: " << got[0].hex;
        showLogIfFailed(row.name);
    }
}

// --------------------------------------------------------------- discovery

// The target answers only a Hello with discovery mode 3.
const std::string kHelloMode3 = "64 00 10 00 00 00 00 00 03 00 00 00 00 00 00 00";
// Identifier 5, name "Script" (6 bytes in 24, lengthWord 24 | 2).
const std::string kHelloReply = "64 00 1a 00 01 00 01 00 05 00 00 00 00 00 00 00 53 63 72 69 70 74 00 00";

std::vector<std::string> discoveryRules()
{
    return {
        kHelloMode3 + " => " + kHelloReply,
        "64 00 .. 00 16 00 01 00 * => 64 00 10 00 17 00 01 00 00 00 00 00 00 00 00 00",
        // Reboot with mode 2 only.
        "64 00 10 00 24 00 00 00 02 00 00 00 00 00 00 00 => 64 00 10 00 25 00 01 00 02 00 00 00 00 00 00 00"};
}

TEST_F(Scripted, DiscoveryModeOnTheWire)
{
    for (uint8_t mode : {uint8_t(3), uint8_t(0)}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        ASSERT_NO_FATAL_FAILURE(start(discoveryRules(), {"--discovery"}));
        TargetClient c(0, "disc");
        ASSERT_TRUE(c.open());
        TargetMap found;
        EXPECT_TRUE(discover(c, found, mode));
        const std::vector<Got> got = stop();
        char modeHex[3];
        std::snprintf(modeHex, sizeof modeHex, "%02x", mode);
        // One Hello per pass reaches this target's link, at the discovery port.
        EXPECT_EQ(hexOf(got, "disc"),
                  repeat("6400100000000000" + std::string(modeHex) + "00000000000000", 3));
        if (mode == 3) {
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found.begin()->first, target);
            EXPECT_EQ(found.begin()->second.identifier, 5u);
            EXPECT_EQ(found.begin()->second.name, "Script");
            // "disc": 4 bytes in 24, lengthWord 24 | 4.
            EXPECT_EQ(hexOf(got, "cmd"),
                      (std::vector<std::string>{
                          hex("64 00 1c 00 16 00 01 00 00 00 00 00 00 00 00 00 64 69 73 63 00 00 00 00")}));
        } else {
            EXPECT_TRUE(found.empty());
            EXPECT_TRUE(hexOf(got, "cmd").empty()) << "nobody answered: nobody is announced to";
        }
        showLogIfFailed("mode " + std::to_string(mode));
    }
}

using ctltest::CtlResult;
using ctltest::ctlRun;

// velmora-ctl hands its --mode values to the wire unchanged.
TEST_F(Scripted, CtlModesOnTheWire)
{
    ASSERT_NO_FATAL_FAILURE(start(discoveryRules(), {"--discovery"}));
    const std::string ep = scopedText(target);
    const CtlResult found = ctlRun({"discover", "--mode", "3"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, ep + "\t0000000000000005\tScript\n");
    const CtlResult none = ctlRun({"discover"});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "");
    const CtlResult reboot2 = ctlRun({"reboot", ep, "--mode", "2"});
    EXPECT_EQ(reboot2.status, 0) << reboot2.err;
    const CtlResult reboot1 = ctlRun({"reboot", ep});
    EXPECT_EQ(reboot1.status, 1) << "the target answers mode 2 only";
    const std::vector<Got> got = stop();
    EXPECT_EQ(hexOf(got, "disc"), join({repeat(hex(kHelloMode3), 3),
                                        repeat(hex("64 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00"), 3)}));
    // The announcement with the tool's name "velmora-ctl" (11 bytes in 32,
    // lengthWord 32 | 5), then both reboots.
    EXPECT_EQ(hexOf(got, "cmd"),
              (std::vector<std::string>{hex("64 00 25 00 16 00 01 00 00 00 00 00 00 00 00 00 "
                                            "76 65 6c 6d 6f 72 61 2d 63 74 6c 00 00 00 00 00"),
                                        hex("64 00 10 00 24 00 00 00 02 00 00 00 00 00 00 00"),
                                        hex("64 00 10 00 24 00 00 00 01 00 00 00 00 00 00 00")}));
}

} // namespace
