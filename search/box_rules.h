// The input rules of the window's number boxes, shared by every front end.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zerano {

inline constexpr std::size_t qq_box_max_length = 13;

// While typing, a number box takes only digits and "-".
bool number_box_accepts(char c);

// What a number box holds once it loses the focus: the leading whole number (spaces skipped,
// an optional sign, the digits up to the first other character) written back in decimal, and
// nothing when that number is 0.
//
// The QQ box keeps the number as typed however large: a shop number above the 32-bit range
// exists, and clamping it would search for another shop. The interval box keeps its value
// within -32768..32767.
std::string qq_box_text(std::string_view text);
std::string interval_box_text(std::string_view text);

// For front ends that take a whole value at once: the text as the box would hold it after it
// was typed and left, or nullopt when the box would refuse a character of it (or, for the QQ
// box, when it is longer than the box holds).
std::optional<std::string> typed_qq(std::string_view text);
std::optional<std::string> typed_interval(std::string_view text);

}  // namespace zerano
