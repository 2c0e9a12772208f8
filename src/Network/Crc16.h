#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/USB: polynomial 0x8005 reflected (0xA001), initial 0xFFFF, input
// and output reflected, final XOR 0xFFFF. The one checksum of the system:
// firmware images, installer packages and the image check sent to a target.
uint16_t crc16Usb(const uint8_t *data, size_t length);

// The same checksum in pieces, for data that arrives block by block: start
// with the register kCrc16UsbStart, feed every piece in order through
// crc16UsbUpdate, and crc16UsbFinish gives what crc16Usb gives for the
// whole.
constexpr uint16_t kCrc16UsbStart = 0xFFFF;
uint16_t crc16UsbUpdate(uint16_t reg, const uint8_t *data, size_t length);
inline uint16_t crc16UsbFinish(uint16_t reg) { return static_cast<uint16_t>(reg ^ 0xFFFF); }
