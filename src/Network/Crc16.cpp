#include "src/Network/Crc16.h"

#include <array>

namespace {

// Byte table of the reflected polynomial 0xA001 (0x8005 bit-reversed).
constexpr std::array<uint16_t, 256> makeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = makeTable();

} // namespace

uint16_t crc16Usb(const uint8_t *data, size_t length)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xffu]);
    return static_cast<uint16_t>(crc ^ 0xFFFF);
}

uint16_t crc16UsbUpdate(uint16_t reg, const uint8_t *data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ kTable[(reg ^ data[i]) & 0xffu]);
    return reg;
}
