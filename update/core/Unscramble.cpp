#include "update/core/Unscramble.h"

namespace update {

std::string unscramble(const volatile uint8_t *stored, size_t length)
{
    std::string plain;
    plain.reserve(length);
    uint8_t key = kScrambleKeyStart;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = static_cast<uint8_t>(stored[i] ^ key);
        plain.push_back(static_cast<char>(b));
        key = nextScrambleKey(key, b);
    }
    return plain;
}

} // namespace update
