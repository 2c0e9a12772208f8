// The checksum fed in pieces gives the checksum of the whole.

#include "src/Network/Crc16.h"

#include <gtest/gtest.h>

#include <string>

TEST(Crc16Pieces, SameAsWhole)
{
    const std::string check = "123456789";
    const auto *bytes = reinterpret_cast<const uint8_t *>(check.data());
    for (size_t cut = 0; cut <= check.size(); ++cut) {
        uint16_t reg = crc16UsbUpdate(kCrc16UsbStart, bytes, cut);
        reg = crc16UsbUpdate(reg, bytes + cut, check.size() - cut);
        EXPECT_EQ(crc16UsbFinish(reg), 0xB4C8) << "cut at " << cut;
    }
    EXPECT_EQ(crc16UsbFinish(crc16UsbUpdate(kCrc16UsbStart, nullptr, 0)), 0x0000);
}
