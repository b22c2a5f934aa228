// UTF-8 decoding shared by the conversions.
#pragma once

#include <cstdint>
#include <cstring>

namespace zerano::utf8 {

inline constexpr char32_t replacement = 0xFFFD;

// Decodes the character at `p` and moves past it. An ill-formed sequence (overlong,
// surrogate, above U+10FFFF, truncated) gives one U+FFFD for its longest well-formed prefix
// and stops before the first byte that does not fit, so that byte is read afresh.
inline char32_t decode(const unsigned char*& p, const unsigned char* end) {
    const unsigned lead = *p++;
    if (lead < 0x80) {
        return lead;
    }
    unsigned more = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return replacement;
    }
    for (unsigned k = 0; k < more; ++k) {
        if (p == end || *p < low || *p > high) {
            return replacement;
        }
        code = code << 6 | (*p++ & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return code;
}

inline constexpr std::uint64_t high_bits = 0x8080808080808080ULL;

inline std::uint64_t load8(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// True when none of the eight bytes has its high bit set.
inline bool all_ascii(std::uint64_t word) {
    return (word & high_bits) == 0;
}

// True when the eight bytes are ASCII and none of them is zero (adding 0x7F to an ASCII byte
// sets its high bit unless it is zero, and never carries into the next byte).
inline bool all_ascii_nonzero(std::uint64_t word) {
    return all_ascii(word) && ((word + ~high_bits) & high_bits) == high_bits;
}

}  // namespace zerano::utf8
