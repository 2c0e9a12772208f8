#include "src/Network/Message.h"

#include <cstring>

namespace {

void putLe16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xff);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t getLe16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

size_t messageLength(size_t payloadSize)
{
    return (payloadSize + msg::kHeaderSize + 7) & ~size_t(7);
}

uint16_t lengthWordFor(size_t payloadSize)
{
    const size_t length = messageLength(payloadSize);
    const size_t pad = (8 - payloadSize % 8) % 8;
    return static_cast<uint16_t>(length | pad);
}

void buildMessage(std::vector<uint8_t> &out, const MessageHeader &header, const uint8_t *payload,
                  size_t payloadSize)
{
    const size_t length = messageLength(payloadSize);
    out.assign(length, 0);
    uint8_t *p = out.data();
    putLe16(p + 0, header.magic);
    putLe16(p + 2, header.lengthWord);
    putLe16(p + 4, header.command);
    putLe16(p + 6, header.flags);
    putLe16(p + 8, header.param0);
    putLe16(p + 10, header.param1);
    putLe16(p + 12, header.param2);
    putLe16(p + 14, header.param3);
    if (payload != nullptr && payloadSize > 0)
        std::memcpy(p + msg::kHeaderSize, payload, payloadSize);
}

std::vector<uint8_t> buildMessage(uint16_t command, uint16_t flags, uint16_t p0, uint16_t p1, uint16_t p2,
                                  uint16_t p3, const uint8_t *payload, size_t payloadSize)
{
    MessageHeader header;
    header.lengthWord = lengthWordFor(payloadSize);
    header.command = command;
    header.flags = flags;
    header.param0 = p0;
    header.param1 = p1;
    header.param2 = p2;
    header.param3 = p3;
    std::vector<uint8_t> out;
    buildMessage(out, header, payload, payloadSize);
    return out;
}

bool parseHeader(const uint8_t *data, size_t size, MessageHeader &header)
{
    if (data == nullptr || size < msg::kHeaderSize)
        return false;
    MessageHeader h;
    h.magic = getLe16(data + 0);
    h.lengthWord = getLe16(data + 2);
    h.command = getLe16(data + 4);
    h.flags = getLe16(data + 6);
    h.param0 = getLe16(data + 8);
    h.param1 = getLe16(data + 10);
    h.param2 = getLe16(data + 12);
    h.param3 = getLe16(data + 14);
    if (h.magic != msg::kMagic || h.paddedLength() > size)
        return false;
    header = h;
    return true;
}

size_t payloadLength(const MessageHeader &header)
{
    // A padded length below 16 (possible in a datagram that is well-formed
    // only because it is long enough) or a pad count reaching into the
    // header has no payload: never let the subtraction wrap around.
    const size_t padded = header.paddedLength();
    const size_t used = msg::kHeaderSize + header.padCount();
    if (padded < used)
        return 0;
    return padded - used;
}
