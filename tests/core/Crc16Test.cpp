#include "src/Network/Crc16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

uint16_t crcOf(const std::string &s)
{
    return crc16Usb(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

// Bitwise reference: reflected 0x8005, init 0xFFFF, final XOR 0xFFFF.
uint16_t crcBitwise(const std::string &s)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char c : s) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return static_cast<uint16_t>(crc ^ 0xFFFF);
}

} // namespace

TEST(Crc16Usb, CatalogueCheckValue)
{
    // The check value of CRC-16/USB in the CRC catalogue (reveng's
    // "Catalogue of parametrised CRC algorithms"): CRC of "123456789".
    EXPECT_EQ(crcOf("123456789"), 0xB4C8);
}

TEST(Crc16Usb, EmptyInputIsInitialValueXored)
{
    EXPECT_EQ(crc16Usb(nullptr, 0), 0x0000);
}

TEST(Crc16Usb, TableMatchesBitwiseReference)
{
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data.push_back(static_cast<char>((i * 37 + 11) & 0xff));
        ASSERT_EQ(crcOf(data), crcBitwise(data)) << "length " << data.size();
    }
}
