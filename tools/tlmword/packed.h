// Decoding of signed integers packed six bits per printable character.
// Only the low six bits of each character count; the first character holds
// the most significant bits, and its bit 5 (0x20) is the sign of the word.
// All arithmetic is done in 32 bits so that the sign bits set below land in
// a 32-bit value on any host.
#pragma once

#include <cstdint>

namespace tlmword {

// The six payload bits of one character.
constexpr std::uint32_t sixbits(char c) {
    return static_cast<unsigned char>(c) & 0x3Fu;
}

constexpr bool negative(char first) {
    return (static_cast<unsigned char>(first) & 0x20u) != 0;
}

// Four characters, 24 bits.  A negative word gets bits 22 to 31 set: bit 22
// of a negative word always comes out 1, whatever the first character held.
constexpr std::int32_t decode24(const char *w) {
    std::uint32_t v = sixbits(w[0]) << 18 | sixbits(w[1]) << 12 | sixbits(w[2]) << 6 | sixbits(w[3]);
    if (negative(w[0])) v |= 0xFFC00000u;
    return static_cast<std::int32_t>(v);
}

// Three characters, 18 bits, sign-extended from bit 17.
constexpr std::int32_t decode17(const char *w) {
    std::uint32_t v = sixbits(w[0]) << 12 | sixbits(w[1]) << 6 | sixbits(w[2]);
    if (negative(w[0])) v |= 0xFFFC0000u;
    return static_cast<std::int32_t>(v);
}

}  // namespace tlmword
