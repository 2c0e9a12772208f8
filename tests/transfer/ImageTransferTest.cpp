// transferImage and commitImage against the emulator's storage on ::1: the
// slot checks, the exact data blocks of small images, resends, losses and
// the checks of the target's replies.

#include "FakeTarget.h"

#include "src/Network/Crc16.h"
#include "src/Network/TargetClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

std::vector<uint8_t> randomImage(size_t size, unsigned seed = 5)
{
    std::mt19937 r(seed);
    std::vector<uint8_t> v(size);
    for (auto &b : v)
        b = uint8_t(r());
    return v;
}

// A client whose socket is bound on the loopback side: no interface list is
// needed to talk to ::1.
struct Client {
    TargetClient client{TargetClient::kAllOnes, ""};
    bool ready = false;
    Client()
    {
        NodeAddress any;
        ready = client.socket().open(SocketKind::UdpV6Only) && client.socket().bind(any);
    }
};

struct Block {
    uint16_t p0, p1, p2, p3;
    size_t payload;
    bool operator==(const Block &o) const
    {
        return p0 == o.p0 && p1 == o.p1 && p2 == o.p2 && p3 == o.p3 && payload == o.payload;
    }
};
void PrintTo(const Block &b, std::ostream *os)
{
    char buf[80];
    std::snprintf(buf, sizeof buf, "{p0 0x%04x seq %u index %u window %u, %zu bytes}", b.p0, b.p1, b.p2, b.p3,
                  b.payload);
    *os << buf;
}

std::vector<Block> blocksOf(const std::vector<std::vector<uint8_t>> &datagrams)
{
    std::vector<Block> out;
    for (const auto &d : datagrams) {
        MessageHeader h;
        if (parseHeader(d.data(), d.size(), h))
            out.push_back({h.param0, h.param1, h.param2, h.param3, payloadLength(h)});
    }
    return out;
}

class ImageTransfer : public testing::Test {
protected:
    // A new target and a new client socket for each row: a late reply to
    // the row before cannot reach this one.
    bool start(const Options &options)
    {
        client_ = std::make_unique<Client>();
        target_ = std::make_unique<FakeTarget>(options);
        if (!target_->error().empty()) {
            ADD_FAILURE() << target_->error();
            return false;
        }
        if (!client_->ready) {
            ADD_FAILURE() << "client socket does not open on ::1";
            return false;
        }
        return true;
    }
    bool transfer(const std::vector<uint8_t> &image, int slot = 0, uint64_t burst = 0)
    {
        return client_->client.transferImage(target_->address(), slot, image.data(), image.size(), burst);
    }
    // The file the target stores its image in, removed when the test ends
    // (after the target has gone, whatever failed before).
    std::string imagePath()
    {
        const char *tmp = std::getenv("TMPDIR");
        imagePath_ = std::string(tmp ? tmp : "/tmp") + "/velmora-transfer-" + std::to_string(::getpid()) + ".bin";
        return imagePath_;
    }
    ~ImageTransfer() override
    {
        target_.reset();
        client_.reset();
        if (!imagePath_.empty())
            std::remove(imagePath_.c_str());
    }

    std::unique_ptr<Client> client_;
    std::unique_ptr<FakeTarget> target_;
    std::string imagePath_;
};

TEST_F(ImageTransfer, SlotChecksBeforeAnyBlock)
{
    struct Row {
        const char *slots;
        int slot;
        bool ok;
    } rows[] = {{"0", 0, false}, {"1", 1, false}, {"1", -1, false}, {"2", 1, true}, {"1", 0, true}};
    const auto image = randomImage(100);
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string("slots=") + r.slots + " slot " + std::to_string(r.slot));
        ASSERT_TRUE(start({{"slots", r.slots}}));
        EXPECT_EQ(transfer(image, r.slot), r.ok);
        if (!r.ok) {
            // Only the target query went out (none at all for a negative index).
            EXPECT_EQ(target_->received().size(), r.slot < 0 ? 0u : 1u);
            EXPECT_TRUE(target_->received(msg::DataBlock).empty());
        }
    }
}

TEST_F(ImageTransfer, ImageMustFitTheSlot)
{
    for (size_t size : {4096u, 4097u}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(start({{"slot.0", "1024,4,1"}}));
        EXPECT_EQ(transfer(randomImage(size)), size == 4096);
        EXPECT_EQ(target_->received(msg::SlotInfo).size(), 2u);
        EXPECT_EQ(target_->received(msg::DataBlock).size(), size == 4096 ? 4u : 0u);
    }
}

TEST_F(ImageTransfer, BlocksOfA2500ByteImage)
{
    constexpr uint16_t L = 0x8000, S = 1; // last-of-burst bit, slot number of index 0
    struct Row {
        const char *name;
        const char *window;
        const char *targetBurst;
        uint64_t callerBurst;
        std::vector<Block> blocks;
    } rows[] = {
        {"caller limit 1, window 4",
         "4",
         "none",
         1,
         {{L | S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 2, 0, 452}}},
        {"caller limit 1, window 2",
         "2",
         "none",
         1,
         {{L | S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 0, 1, 452}}},
        {"target limit 0, window 4",
         "4",
         "0",
         0,
         {{L | S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 2, 0, 452}}},
        {"no limit, window 4",
         "4",
         "none",
         0,
         {{S, 0, 0, 0, 1024}, {S, 1, 1, 0, 1024}, {L | S, 2, 2, 0, 452}}},
        {"no limit, window 2",
         "2",
         "none",
         0,
         {{S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 0, 1, 452}}},
        {"limit 1500 bytes, window 4",
         "4",
         "1500",
         0,
         {{S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 2, 0, 452}}},
        {"target 3000, caller 2048",
         "4",
         "3000",
         2048,
         {{S, 0, 0, 0, 1024}, {L | S, 1, 1, 0, 1024}, {L | S, 2, 2, 0, 452}}},
    };
    const auto image = randomImage(2500);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(start({{"window", r.window}, {"block", "1024"}, {"burst", r.targetBurst}}));
        ASSERT_TRUE(transfer(image, 0, r.callerBurst));
        const auto data = target_->received(msg::DataBlock);
        EXPECT_EQ(blocksOf(data), r.blocks);
        // Payloads are the image in order; lengths padded to 8 with the pad
        // count in the length word.
        std::vector<uint8_t> joined;
        for (const auto &d : data) {
            MessageHeader h;
            ASSERT_TRUE(parseHeader(d.data(), d.size(), h));
            EXPECT_EQ(d.size() % 8, 0u);
            EXPECT_EQ(h.lengthWord, uint16_t(d.size() | (d.size() - 16 - payloadLength(h))));
            EXPECT_EQ(h.flags, 0);
            joined.insert(joined.end(), d.begin() + 16, d.begin() + 16 + long(payloadLength(h)));
        }
        EXPECT_EQ(joined, image);
        // The last datagram is 452 payload bytes in 472: lengthWord 472 | 4.
        EXPECT_EQ(data.back().size(), 472u);
        EXPECT_EQ(data.back()[2] | (data.back()[3] << 8), 476);
        // The check asks for the CRC of the image with action 0xFFFF.
        const auto commits = blocksOf(target_->received(msg::ImageCommit));
        ASSERT_EQ(commits.size(), 1u);
        EXPECT_EQ(commits[0], (Block{S, crc16Usb(image.data(), image.size()), 0xFFFF, 0, 0}));
    }
}

TEST_F(ImageTransfer, StaleAcknowledgementResendsTheSameBurst)
{
    ASSERT_TRUE(start({{"window", "4"}, {"stale-acks", "1"}}));
    const auto image = randomImage(2500);
    ASSERT_TRUE(transfer(image, 0, 0));
    const auto data = target_->received(msg::DataBlock);
    // The whole window is one burst; it goes out twice, byte for byte.
    ASSERT_EQ(data.size(), 6u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(data[i], data[i + 3]) << "block " << i;
}

TEST_F(ImageTransfer, EmptyImageChecksCrcZero)
{
    ASSERT_TRUE(start({}));
    std::vector<uint8_t> empty;
    EXPECT_TRUE(client_->client.transferImage(target_->address(), 0, nullptr, 0, 1));
    EXPECT_TRUE(target_->received(msg::DataBlock).empty());
    const auto commits = blocksOf(target_->received(msg::ImageCommit));
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_EQ(commits[0], (Block{1, 0x0000, 0xFFFF, 0, 0}));
}

TEST_F(ImageTransfer, FaultyRepliesFailTheTransfer)
{
    struct Row {
        const char *key;
        const char *value;
        size_t blocksSent; // before the failure
    } rows[] = {
        {"check-state", "0", 3},    // CRC echoed, p2 not 0xFFFF
        {"crc-echo-wrong", "1", 3}, // check reply with another CRC
        {"ack-not-ok", "1", 1},     // the first acknowledgement ends it
        {"ack-other-slot", "1", 1},
    };
    const auto image = randomImage(2500);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.key);
        ASSERT_TRUE(start({{"window", "4"}, {r.key, r.value}}));
        EXPECT_FALSE(transfer(image, 0, 1));
        EXPECT_EQ(target_->received(msg::DataBlock).size(), r.blocksSent);
    }
}

TEST_F(ImageTransfer, RecoversFromLostBlocksAndAcknowledgements)
{
    struct Row {
        const char *window;
        uint64_t burst;
    } rows[] = {{"16", 0}, {"4", 1}};
    const auto image = randomImage(150 * 1024 + 77);
    const std::string path = imagePath();
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string("window ") + r.window + " burst " + std::to_string(r.burst));
        ASSERT_TRUE(start({{"window", r.window},
                           {"lose-blocks", "0.05"},
                           {"lose-acks", "0.05"},
                           {"seed", "11"},
                           {"write-ms", "0"},
                           {"image", path}}));
        ASSERT_TRUE(transfer(image, 0, r.burst));
        EXPECT_GT(target_->received(msg::DataBlock).size(), 151u); // some were sent again
        // Writing stores exactly the bytes sent.
        uint16_t state = 0;
        const uint16_t crc = crc16Usb(image.data(), image.size());
        ASSERT_TRUE(client_->client.commitImage(target_->address(), 0, crc, state));
        EXPECT_EQ(state, 0);
        std::ifstream f(path, std::ios::binary);
        std::vector<uint8_t> stored((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(stored, image);
        std::remove(path.c_str());
    }
}

TEST_F(ImageTransfer, ProgressCountsFirstSendsOnly)
{
    ASSERT_TRUE(start({{"window", "4"}, {"stale-acks", "2"}}));
    std::vector<uint64_t> sent;
    client_->client.setTransferProgress([&](uint64_t s, uint64_t total) {
        EXPECT_EQ(total, 2500u);
        sent.push_back(s);
    });
    ASSERT_TRUE(transfer(randomImage(2500), 0, 1));
    EXPECT_EQ(sent, (std::vector<uint64_t>{1024, 2048, 2500}));
}

// A stop request ends the transfer before its next burst: no further data
// block goes out and the check is never asked for.
TEST_F(ImageTransfer, StopRequestSendsNoNewBurst)
{
    for (int allowed : {0, 2}) {
        SCOPED_TRACE(allowed);
        ASSERT_TRUE(start({}));
        int asked = 0;
        client_->client.setTransferStop([&] { return asked++ >= allowed; });
        EXPECT_FALSE(transfer(randomImage(5000), 0, 1));
        EXPECT_TRUE(client_->client.transferStopped());
        EXPECT_EQ(target_->received(msg::DataBlock).size(), size_t(allowed));
        EXPECT_TRUE(target_->received(msg::ImageCommit).empty());
    }
    // A transfer without a stop request leaves the flag clear again.
    ASSERT_TRUE(start({}));
    client_->client.setTransferStop(nullptr);
    EXPECT_TRUE(transfer(randomImage(5000), 0, 1));
    EXPECT_FALSE(client_->client.transferStopped());
}

TEST_F(ImageTransfer, CommitChecksEchoesAndKeepsStateOnFailure)
{
    const auto image = randomImage(3000);
    const uint16_t crc = crc16Usb(image.data(), image.size());
    {
        ASSERT_TRUE(start({{"write-ms", "60000"}}));
        ASSERT_TRUE(transfer(image, 0, 1));
        uint16_t state = 0;
        ASSERT_TRUE(client_->client.commitImage(target_->address(), 0, crc, state));
        EXPECT_GT(state, 0); // still writing
        // Another slot number, or another CRC, is refused.
        uint16_t kept = 0;
        EXPECT_FALSE(client_->client.commitImage(target_->address(), 1, crc, kept));
        EXPECT_FALSE(client_->client.commitImage(target_->address(), 0, uint16_t(crc ^ 1), kept));
        EXPECT_EQ(kept, 0);
    }
    {
        ASSERT_TRUE(start({{"crc-echo-wrong", "1"}}));
        uint16_t state = 7;
        EXPECT_FALSE(client_->client.commitImage(target_->address(), 0, crc, state));
        EXPECT_EQ(state, 7);
    }
}

// The one slow case: a target that never acknowledges ends the transfer
// after the resend bound (5 s of silence), not never.
TEST_F(ImageTransfer, NeverAcknowledgedBurstFails)
{
    ASSERT_TRUE(start({{"lose-acks", "1"}}));
    const auto startTime = std::chrono::steady_clock::now();
    EXPECT_FALSE(transfer(randomImage(3000), 0, 1));
    const auto took = std::chrono::steady_clock::now() - startTime;
    EXPECT_GE(took, std::chrono::seconds(4));
    EXPECT_LT(took, std::chrono::seconds(20));
    // The first block only, sent again and again.
    const auto data = target_->received(msg::DataBlock);
    ASSERT_GE(data.size(), 40u);
    for (const auto &d : data)
        EXPECT_EQ(d, data[0]);
}

} // namespace
