// Conversions between code page 936, UTF-8 and UTF-16.
//
// Code page 936 is Windows' table (0x80 is the euro sign). Malformed UTF-8 decodes as Windows
// does without flags: each invalid or truncated sequence becomes U+FFFD and the byte after it
// is read afresh. A character that code page 936 lacks becomes "?". Reading code page 936, a
// lead byte and a trail byte that form no character give one "?", and a lead byte without a
// trail byte after it gives "?" alone; 0xFF is U+F8F5 and the user-defined areas are
// private-use characters from U+E000, as on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zerano {

std::u16string gbk_to_utf16(std::string_view text);
std::string utf16_to_gbk(std::u16string_view units);
std::u16string utf8_to_utf16(std::string_view bytes);
std::string utf16_to_utf8(std::u16string_view units);

// For the terminal and window edges: code page 936 text shown as UTF-8, and UTF-8 input taken
// as code page 936 only when every character has a place there (nullopt otherwise).
std::string gbk_to_utf8(std::string_view text);
std::optional<std::string> utf8_to_gbk_exact(std::string_view utf8);

}  // namespace zerano
