#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/USB: polynomial 0x8005 reflected (0xA001), initial 0xFFFF, input
// and output reflected, final XOR 0xFFFF. The one checksum of the system:
// firmware images, installer packages and the image check sent to a target.
uint16_t crc16Usb(const uint8_t *data, size_t length);
