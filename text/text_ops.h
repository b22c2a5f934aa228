// Operations on byte texts in code page 936.
//
// A text is a std::string of code page 936 bytes that holds no zero byte; a byte with its high
// bit set followed by a non-zero byte is one double-byte character, every other byte is one
// character. Positions count bytes from 1; -1 means "not found". Only A-Z and a-z have letter
// case. The spaces are 0x20 and the full-width pair A1 A1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zerano {

// First occurrence of `sought` at or after `start`, moving by characters, so that a match never
// begins on the second byte of a double-byte character.
int find_position(std::string_view text, std::string_view sought, int start = 1,
                  bool ignore_case = false);

std::string lowercased(std::string_view text);

// Byte counts; these may cut a double-byte character in two.
std::string left_part(std::string_view text, int n);
std::string right_part(std::string_view text, int n);
std::string middle_part(std::string_view text, int start, int n);

std::string trimmed(std::string_view text);
std::string without_spaces(std::string_view text);

// Empty text: no items. Empty separator: the whole text. Empty pieces between separators stay;
// an empty piece after a final separator does not.
std::vector<std::string> split_items(std::string_view text, std::string_view separator);

std::string replace_every(std::string_view text, std::string_view sought,
                          std::string_view replacement, bool ignore_case = false);
std::string replace_span(std::string_view text, int start, int length,
                         std::string_view replacement);

// Folds full-width forms to half-width, then reads a leading decimal number; 0 when there is none.
double parse_number(std::string_view text);

std::string format_number(int number);
std::string format_number(double number);  // "%.13g"

// The bytes of a buffer up to its first zero byte.
std::string bytes_text(std::string_view buffer);
std::string space_text(int n);

}  // namespace zerano
