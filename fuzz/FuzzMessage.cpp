// The datagram codec: parseHeader against the rule written out here
// independently (at least 16 bytes, magic 100, padded length not beyond the
// bytes), payloadLength never beyond the datagram, and the round trip: a
// datagram in the codec's own form (pad count as its payload gives it, zero
// padding) is rebuilt byte for byte from its header and payload.
#include "src/Network/Message.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MessageHeader h;
    const bool parsed = parseHeader(data, size, h);
    const auto word = [&](size_t i) { return uint16_t(data[2 * i] | (data[2 * i + 1] << 8)); };
    const bool rule = size >= 16 && word(0) == 100 && size_t(word(1) & ~7u) <= size;
    if (parsed != rule)
        std::abort();
    if (!parsed)
        return 0;
    if (h.magic != word(0) || h.lengthWord != word(1) || h.command != word(2) || h.flags != word(3) ||
        h.param0 != word(4) || h.param1 != word(5) || h.param2 != word(6) || h.param3 != word(7))
        std::abort();
    const size_t p = payloadLength(h);
    if (p + msg::kHeaderSize > size || p > h.paddedLength())
        std::abort();
    if (h.paddedLength() >= 16 && h.padCount() <= h.paddedLength() - 16 &&
        p != h.paddedLength() - 16 - h.padCount())
        std::abort();

    std::vector<uint8_t> rebuilt;
    buildMessage(rebuilt, h, data + msg::kHeaderSize, p);
    if (rebuilt.size() != messageLength(p) || rebuilt.size() % 8 != 0)
        std::abort();
    bool canonical = h.paddedLength() >= 16 && h.lengthWord == lengthWordFor(p);
    for (size_t i = msg::kHeaderSize + p; canonical && i < h.paddedLength(); ++i)
        canonical = data[i] == 0;
    if (canonical &&
        (rebuilt.size() != h.paddedLength() || std::memcmp(rebuilt.data(), data, rebuilt.size()) != 0))
        std::abort();
    MessageHeader back;
    if (!parseHeader(rebuilt.data(), rebuilt.size(), back) || payloadLength(back) != p ||
        std::memcmp(rebuilt.data() + 16, data + 16, p) != 0)
        std::abort();
    return 0;
}
