#include "text/text_ops.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

namespace zerano {
namespace {

constexpr char full_width_lead = '\xA3';
constexpr char space_pair_byte = '\xA1';

bool high_bit(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

// Byte count of the character at `i`: a high byte with a non-zero byte after it pairs up.
std::size_t char_width(std::string_view text, std::size_t i) {
    return high_bit(text[i]) && i + 1 < text.size() && text[i + 1] != '\0' ? 2 : 1;
}

char fold_case(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// With `ignore_case`, only bytes that are characters of their own fold: the trail byte of a
// double-byte character is no letter, even when it has a letter's value.
bool matches_at(std::string_view text, std::size_t i, std::string_view sought, bool ignore_case) {
    if (text.size() - i < sought.size()) {
        return false;
    }
    if (!ignore_case) {
        return text.substr(i, sought.size()) == sought;
    }
    for (std::size_t k = 0; k < sought.size();) {
        const std::size_t width = char_width(sought, k);
        if (width == 1) {
            if (fold_case(text[i + k]) != fold_case(sought[k])) {
                return false;
            }
        } else if (text.substr(i + k, width) != sought.substr(k, width)) {
            return false;
        }
        k += width;
    }
    return true;
}

// Byte offset of the first occurrence at or after `from` (a character boundary), or npos.
std::size_t find_from(std::string_view text, std::string_view sought, std::size_t from,
                      bool ignore_case) {
    for (std::size_t i = from; i < text.size(); i += char_width(text, i)) {
        if (matches_at(text, i, sought, ignore_case)) {
            return i;
        }
    }
    return std::string_view::npos;
}

// Width of the space at `i` (2 for the full-width pair), 0 when none starts there.
std::size_t space_width(std::string_view text, std::size_t i) {
    if (text[i] == ' ') {
        return 1;
    }
    if (text[i] == space_pair_byte && i + 1 < text.size() && text[i + 1] == space_pair_byte) {
        return 2;
    }
    return 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_c_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Full-width forms A3 A1..A3 FE and the full-width space, as their ASCII counterparts.
std::string folded_to_half_width(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = char_width(text, i);
        if (width == 2) {
            auto trail = static_cast<unsigned char>(text[i + 1]);
            if (text[i] == full_width_lead && trail >= 0xA1 && trail <= 0xFE) {
                out += static_cast<char>(trail - 0x80);
            } else if (space_width(text, i) == 2) {
                out += ' ';
            } else {
                out.append(text.substr(i, 2));
            }
        } else {
            out += text[i];
        }
        i += width;
    }
    return out;
}

// Roughly the decimal exponent of an unsigned number as parse_number reads it; only its sign
// matters, to tell overflow from underflow.
long decimal_magnitude(std::string_view number) {
    std::size_t i = 0;
    long magnitude = 0;
    while (i < number.size() && number[i] == '0') {
        ++i;
    }
    bool seen_significant = false;
    for (; i < number.size() && is_digit(number[i]); ++i) {
        ++magnitude;
        seen_significant = true;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && is_digit(number[i]); ++i) {
            if (seen_significant) {
                continue;
            }
            if (number[i] != '0') {
                seen_significant = true;
            } else {
                --magnitude;
            }
        }
    }
    if (i < number.size()) {
        ++i;  // the exponent mark
        bool negative = number[i] == '-';
        if (number[i] == '-' || number[i] == '+') {
            ++i;
        }
        long exponent = 0;
        for (; i < number.size(); ++i) {
            exponent = std::min(exponent * 10 + (number[i] - '0'), 100000L);
        }
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude;
}

}  // namespace

int find_position(std::string_view text, std::string_view sought, int start, bool ignore_case) {
    std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size()) {
        return -1;
    }
    // The empty text stands at every position, so the first one at or after the start is the
    // start itself; answering 1 would send a find-next loop back to the front for ever.
    if (sought.empty()) {
        return static_cast<int>(from) + 1;
    }
    std::size_t found = find_from(text, sought, from, ignore_case);
    return found == std::string_view::npos ? -1 : static_cast<int>(found) + 1;
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); i += char_width(out, i)) {
        out[i] = fold_case(out[i]);
    }
    return out;
}

std::string left_part(std::string_view text, int n) {
    if (n <= 0) {
        return {};
    }
    return std::string(text.substr(0, static_cast<std::size_t>(n)));
}

std::string right_part(std::string_view text, int n) {
    if (n <= 0) {
        return {};
    }
    auto count = static_cast<std::size_t>(n);
    return std::string(count >= text.size() ? text : text.substr(text.size() - count));
}

std::string middle_part(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) {
        return {};
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && space_width(text, begin) > 0) {
        begin += space_width(text, begin);
    }
    // The end is found walking forwards: A1 A1 at the end may be a trail byte and a lone byte.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        std::size_t width = space_width(text, i);
        if (width == 0) {
            width = char_width(text, i);
            end = i + width;
        }
        i += width;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string without_spaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = space_width(text, i);
        if (width == 0) {
            width = char_width(text, i);
            out.append(text.substr(i, width));
        }
        i += width;
    }
    return out;
}

std::vector<std::string> split_items(std::string_view text, std::string_view separator) {
    std::vector<std::string> items;
    if (text.empty()) {
        return items;
    }
    if (separator.empty()) {
        items.emplace_back(text);
        return items;
    }
    std::size_t cut = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (matches_at(text, i, separator, false)) {
            items.emplace_back(text.substr(cut, i - cut));
            i += separator.size();
            cut = i;
        } else {
            i += char_width(text, i);
        }
    }
    if (cut < text.size()) {
        items.emplace_back(text.substr(cut));
    }
    return items;
}

std::string replace_every(std::string_view text, std::string_view sought,
                          std::string_view replacement, bool ignore_case) {
    if (sought.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t found = find_from(text, sought, 0, ignore_case);
         found != std::string_view::npos; found = find_from(text, sought, done, ignore_case)) {
        out.append(text.substr(done, found - done));
        out.append(replacement);
        done = found + sought.size();
    }
    out.append(text.substr(done));
    return out;
}

std::string replace_span(std::string_view text, int start, int length,
                         std::string_view replacement) {
    std::size_t cut = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    cut = std::min(cut, text.size());
    std::size_t removed = length <= 0 ? 0 : static_cast<std::size_t>(length);
    removed = std::min(removed, text.size() - cut);
    std::string out;
    out.reserve(text.size() - removed + replacement.size());
    out.append(text.substr(0, cut));
    out.append(replacement);
    out.append(text.substr(cut + removed));
    return out;
}

double parse_number(std::string_view text) {
    const std::string folded = folded_to_half_width(text);
    std::string_view rest = folded;
    std::size_t i = 0;
    while (i < rest.size() && is_c_space(rest[i])) {
        ++i;
    }
    bool negative = false;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
        negative = rest[i] == '-';
        ++i;
    }
    const std::size_t number_begin = i;
    std::size_t digits = 0;
    while (i < rest.size() && is_digit(rest[i])) {
        ++i;
        ++digits;
    }
    if (i < rest.size() && rest[i] == '.') {
        ++i;
        while (i < rest.size() && is_digit(rest[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < rest.size() && (rest[e] == '+' || rest[e] == '-')) {
            ++e;
        }
        if (e < rest.size() && is_digit(rest[e])) {
            while (e < rest.size() && is_digit(rest[e])) {
                ++e;
            }
            i = e;
        }
    }
    double value = 0.0;
    const std::string_view number = rest.substr(number_begin, i - number_begin);
    auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                  std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = decimal_magnitude(number) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

std::string format_number(int number) {
    return std::to_string(number);
}

std::string format_number(double number) {
    // to_chars writes as "%.13g" would in the C locale, whatever locale the window has set.
    char buffer[64];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, 13);
    return std::string(buffer, result.ptr);
}

std::string bytes_text(std::string_view buffer) {
    return std::string(buffer.substr(0, buffer.find('\0')));
}

std::string space_text(int n) {
    return n <= 0 ? std::string() : std::string(static_cast<std::size_t>(n), ' ');
}

}  // namespace zerano
