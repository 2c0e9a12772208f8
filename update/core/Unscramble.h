#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The built-in update server address and the update server credential are
// not kept as plain text in the program: the build stores them as
// scrambled bytes (cmake/VelmoraScramble.cmake) and the program rebuilds
// them when it needs them. Every plain byte is the stored byte XOR a
// running key byte; the key then moves on from the plain byte just made.

namespace update {

constexpr uint8_t kScrambleKeyStart = 0x5A;

// The key byte that follows `key` once `plain` has been produced.
constexpr uint8_t nextScrambleKey(uint8_t key, uint8_t plain)
{
    return static_cast<uint8_t>(key * 29u + plain + 59u);
}

// Reads the stored bytes through a volatile pointer so that the compiler
// cannot fold the plain text back into the program.
std::string unscramble(const volatile uint8_t *stored, size_t length);

} // namespace update
