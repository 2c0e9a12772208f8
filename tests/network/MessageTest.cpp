#include "src/Network/Message.h"
#include "src/Network/Socket/Socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(MessageWire, HelloRequestIsSixteenLiteralBytes)
{
    const Bytes expected = {0x64, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(buildMessage(msg::Hello), expected);
}

TEST(MessageWire, AnnounceWithNineByteNameIs32BytesLengthWord39SevenPadBytes)
{
    const std::string name = "Velmora-9";
    ASSERT_EQ(name.size(), 9u);
    const Bytes d = buildMessage(msg::Announce, msg::kFlagOk, 0, 0, 0, 0,
                                 reinterpret_cast<const uint8_t *>(name.data()), name.size());
    const Bytes header = {0x64, 0x00, 0x27, 0x00, 0x16, 0x00, 0x01, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(d.size(), 32u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 16), header);
    EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 25), name);
    EXPECT_EQ(Bytes(d.begin() + 25, d.end()), Bytes(7, 0));
}

TEST(MessageWire, ParametersAreLittleEndianInOrder)
{
    const Bytes d = buildMessage(0x1234, 0x0001, 0x0102, 0x0304, 0x0506, 0x0708);
    const Bytes expected = {0x64, 0x00, 0x10, 0x00, 0x34, 0x12, 0x01, 0x00,
                            0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
    EXPECT_EQ(d, expected);
    MessageHeader h;
    ASSERT_TRUE(parseHeader(d.data(), d.size(), h));
    EXPECT_EQ(h.command, 0x1234);
    EXPECT_EQ(h.param0, 0x0102);
    EXPECT_EQ(h.param3, 0x0708);
    EXPECT_TRUE(h.ok());
}

TEST(MessageWire, LengthWordAndPayloadLengthForEveryPadCount)
{
    const struct {
        size_t payload;
        size_t length;
        uint16_t word;
    } rows[] = {{0, 16, 16}, {1, 24, 24 | 7}, {7, 24, 24 | 1}, {8, 24, 24}, {9, 32, 39}, {15, 32, 33},
                {16, 32, 32}, {1477, 1496, 1496 | 3}};
    for (const auto &r : rows) {
        SCOPED_TRACE("payload " + std::to_string(r.payload));
        EXPECT_EQ(messageLength(r.payload), r.length);
        EXPECT_EQ(lengthWordFor(r.payload), r.word);
        const Bytes payload(r.payload, 'a');
        const Bytes d = buildMessage(msg::VersionReply, msg::kFlagOk, 0, 0, 0, 0, payload.data(), payload.size());
        ASSERT_EQ(d.size(), r.length);
        MessageHeader h;
        ASSERT_TRUE(parseHeader(d.data(), d.size(), h));
        EXPECT_EQ(payloadLength(h), r.payload);
    }
}

Bytes withLengthWord(size_t size, uint16_t word, uint16_t magic = 100)
{
    Bytes d(size, 0);
    if (size >= 4) {
        d[0] = uint8_t(magic);
        d[1] = uint8_t(magic >> 8);
        d[2] = uint8_t(word);
        d[3] = uint8_t(word >> 8);
    }
    return d;
}

TEST(MessageWire, WellFormednessTable)
{
    const struct {
        const char *what;
        Bytes datagram;
        bool wellFormed;
    } rows[] = {
        {"empty", {}, false},
        {"15 bytes", withLengthWord(15, 8), false},
        {"bare header", withLengthWord(16, 16), true},
        {"magic 101", withLengthWord(16, 16, 101), false},
        {"magic 100 in the high byte", withLengthWord(16, 16, 0x6400), false},
        {"padded length beyond the datagram", withLengthWord(24, 32), false},
        {"padded length equal to the datagram", withLengthWord(24, 24 | 7), true},
        {"padded length below the datagram (trailing bytes)", withLengthWord(40, 24), true},
        {"padded length 0", withLengthWord(16, 0), true},
        {"padded length 1500 in 1500 bytes", withLengthWord(1500, 1496), true},
    };
    for (const auto &r : rows) {
        MessageHeader h;
        EXPECT_EQ(parseHeader(r.datagram.data(), r.datagram.size(), h), r.wellFormed) << r.what;
    }
}

// A pad count reaching into the header (or a padded length below 16) has
// no sound payload: the length is 0, never a wrapped-around huge value.
TEST(MessageWire, PadCountBeyondThePayloadGivesAnEmptyPayload)
{
    const struct {
        uint16_t word;
        size_t size;
        size_t payload;
    } rows[] = {{16 | 1, 16, 0}, {16 | 7, 16, 0}, {0 | 7, 16, 0}, {8 | 3, 16, 0}, {0, 16, 0}, {24 | 7, 24, 1}};
    for (const auto &r : rows) {
        const Bytes d = withLengthWord(r.size, r.word);
        MessageHeader h;
        ASSERT_TRUE(parseHeader(d.data(), d.size(), h)) << r.word;
        EXPECT_EQ(payloadLength(h), r.payload) << "lengthWord " << r.word;
    }
}

TEST(NodeAddressOrder, AddressThenPortBytesThenInterfaceIndex)
{
    auto make = [](uint8_t last, uint16_t hostPort, uint16_t index) {
        NodeAddress a;
        a.address[0] = 0xfe;
        a.address[1] = 0x80;
        a.address[15] = last;
        a.setHostPort(hostPort);
        a.interfaceIndex = index;
        return a;
    };
    // Port bytes compare in network order: 0x0100 (256) before 0x00ff
    // would be wrong; 255 (00 ff) before 256 (01 00) is right, and so is
    // 0x0201 before 0x0300 with the high byte first.
    const std::vector<NodeAddress> sorted = {make(1, 255, 9), make(1, 256, 1), make(1, 256, 2), make(2, 1, 1)};
    for (size_t i = 0; i + 1 < sorted.size(); ++i) {
        EXPECT_TRUE(sorted[i] < sorted[i + 1]) << i;
        EXPECT_FALSE(sorted[i + 1] < sorted[i]) << i;
    }
    EXPECT_EQ(make(1, 19650, 3).hostPort(), 19650);
    const NodeAddress a = make(1, 0x1234, 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(&a.port)[0], 0x12);
}

TEST(NodeAddressOrder, HasSiblingPort)
{
    NodeAddress k;
    k.address[0] = 0xfe;
    k.address[1] = 0x80;
    k.address[15] = 1;
    k.setHostPort(19650);
    k.interfaceIndex = 12;
    std::map<NodeAddress, int> map{{k, 1}};
    EXPECT_FALSE(hasSiblingPort(map, k));
    NodeAddress other = k;
    other.setHostPort(19651);
    EXPECT_TRUE(hasSiblingPort(map, other));
    NodeAddress otherIndex = other;
    otherIndex.interfaceIndex = 13;
    EXPECT_FALSE(hasSiblingPort(map, otherIndex));
}

TEST(SocketAssert, ReportText)
{
    EXPECT_EQ(TORNE::assertText("src/Network/Socket", 68, 0, 0), "TORNE ASSERT[src/Network/Socket]Line:68[code:0 Data:0]");
    testing::internal::CaptureStderr();
    TORNE::reportAssert("src/Network/Socket", 65, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nTORNE ASSERT[src/Network/Socket]Line:65[code:0 Data:0]\n");
}

} // namespace
