// Code page 936 lookup tables, built once from the system converter and then read-only.
#pragma once

#include <array>
#include <cstdint>

namespace zerano::cp936 {

// The unit a character that code page 936 cannot decode becomes, and the byte a character
// it lacks becomes: its default character.
inline constexpr char16_t default_unit = u'?';
inline constexpr char default_byte = '?';

struct Tables {
    // Double-byte characters by lead << 8 | trail; 0 where the pair is no character.
    std::array<char16_t, 65536> pair_to_unit;
    // Units of the high bytes that stand alone (0x80, 0xFF); 0 for lead bytes.
    std::array<char16_t, 128> high_byte_to_unit;
    // Code page 936 codes by UTF-16 unit: below 0x100 one byte, otherwise lead << 8 | trail;
    // 0 where code page 936 has no place for the unit. ASCII units are not looked up here.
    std::array<std::uint16_t, 65536> unit_to_code;

    // A character's code (U+FFFD and everything beyond the BMP have none).
    std::uint16_t code_for(char32_t character) const {
        return character < 0x10000 ? unit_to_code[character] : 0;
    }
};

const Tables& tables();

inline bool is_lead_byte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
inline bool is_trail_byte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

}  // namespace zerano::cp936
