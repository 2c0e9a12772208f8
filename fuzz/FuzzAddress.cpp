// The address and endpoint text parsers, plus the round trips through the
// formatters: whatever parses formats to a text that parses to the same
// bytes, and formatting is stable.
#include "src/Network/AddressText.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);

    uint8_t address[16];
    std::memset(address, 0xA5, sizeof address);
    if (parseAddress(text, address)) {
        const std::string formatted = formatAddress(address);
        uint8_t back[16];
        if (!parseAddress(formatted, back) || std::memcmp(back, address, 16) != 0)
            std::abort();
        if (formatAddress(back) != formatted)
            std::abort();
    } else {
        for (uint8_t b : address) {
            if (b != 0xA5)
                std::abort(); // a failed parse must not change the address
        }
    }

    NodeAddress endpoint;
    endpoint.interfaceIndex = 7;
    const NodeAddress before = endpoint;
    if (parseEndpoint(text, endpoint)) {
        NodeAddress back;
        if (!parseEndpoint(formatEndpoint(endpoint), back) ||
            std::memcmp(back.address, endpoint.address, 16) != 0 || back.port != endpoint.port ||
            endpoint.interfaceIndex != 7)
            std::abort();
    } else if (endpoint != before) {
        std::abort();
    }

    // The raw bytes as an address: format, then parse back.
    if (size >= 16) {
        const std::string formatted = formatAddress(data);
        uint8_t back[16];
        if (!parseAddress(formatted, back) || std::memcmp(back, data, 16) != 0)
            std::abort();
    }
    return 0;
}
