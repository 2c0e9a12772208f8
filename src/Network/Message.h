#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The datagram format of the target protocol. Every datagram starts with a
// 16-byte header of little-endian 16-bit fields; the payload follows, padded
// with zero bytes to a multiple of 8. This codec works on byte buffers only,
// so the emulator, the command-line tool and the windows share it and the
// wire format is tested without a network.

namespace msg {

constexpr uint16_t kMagic = 100;
constexpr size_t kHeaderSize = 16;
constexpr uint16_t kFlagOk = 0x0001;
constexpr uint16_t kDiscoveryPort = 19642;

enum Command : uint16_t {
    Hello = 0,
    HelloReply = 1,
    Announce = 22,
    AnnounceReply = 23,
    SlotInfo = 26,
    SlotInfoReply = 27,
    DataBlock = 28,
    BlockAck = 29,
    ImageCommit = 30,
    ImageCommitReply = 31,
    VersionQuery = 32,
    VersionReply = 33,
    SourceQuery = 34,
    SourceReply = 35,
    Reboot = 36,
    RebootReply = 37,
};

} // namespace msg

struct MessageHeader {
    uint16_t magic = msg::kMagic;
    uint16_t lengthWord = 16;
    uint16_t command = 0;
    uint16_t flags = 0;
    uint16_t param0 = 0;
    uint16_t param1 = 0;
    uint16_t param2 = 0;
    uint16_t param3 = 0;

    // lengthWord bits 15..3: whole datagram length (a multiple of 8).
    size_t paddedLength() const { return lengthWord & ~7u; }
    // lengthWord bits 2..0: number of zero pad bytes at the end.
    size_t padCount() const { return lengthWord & 7u; }
    bool ok() const { return (flags & msg::kFlagOk) != 0; }
};

// Datagram length for a payload of p bytes: p + 16 rounded up to 8.
size_t messageLength(size_t payloadSize);
// lengthWord for a payload of p bytes.
uint16_t lengthWordFor(size_t payloadSize);

// Builds a complete datagram (header, payload, zero padding) into out,
// reusing its storage.
void buildMessage(std::vector<uint8_t> &out, const MessageHeader &header, const uint8_t *payload,
                  size_t payloadSize);
std::vector<uint8_t> buildMessage(uint16_t command, uint16_t flags = 0, uint16_t p0 = 0, uint16_t p1 = 0,
                                  uint16_t p2 = 0, uint16_t p3 = 0, const uint8_t *payload = nullptr,
                                  size_t payloadSize = 0);

// Well-formed: at least 16 bytes, magic 100, padded length not larger than
// the bytes received. Fills header on success.
bool parseHeader(const uint8_t *data, size_t size, MessageHeader &header);

// Payload length of a well-formed datagram. A pad count larger than the
// bytes after the header gives 0, never an underflow.
size_t payloadLength(const MessageHeader &header);
