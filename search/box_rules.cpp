#include "search/box_rules.h"

#include <algorithm>
#include <cstdint>

namespace zerano {
namespace {

struct LeadingNumber {
    bool negative = false;
    std::string_view digits;  // without leading zeros; empty for 0
};

LeadingNumber leading_number(std::string_view text) {
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos) {
        return {};
    }
    LeadingNumber number;
    if (text[i] == '-' || text[i] == '+') {
        number.negative = text[i] == '-';
        ++i;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    while (i < end && text[i] == '0') {
        ++i;
    }
    number.digits = text.substr(i, end - i);
    return number;
}

std::string written_back(const LeadingNumber& number) {
    if (number.digits.empty()) {
        return {};
    }
    return (number.negative ? "-" : "") + std::string(number.digits);
}

template <typename Rule>
std::optional<std::string> typed(std::string_view text, Rule rule) {
    if (!std::all_of(text.begin(), text.end(), number_box_accepts)) {
        return std::nullopt;
    }
    return rule(text);
}

}  // namespace

bool number_box_accepts(char c) {
    return (c >= '0' && c <= '9') || c == '-';
}

std::string qq_box_text(std::string_view text) {
    return written_back(leading_number(text));
}

std::string interval_box_text(std::string_view text) {
    const LeadingNumber number = leading_number(text);
    constexpr std::int64_t low = -32768;
    constexpr std::int64_t high = 32767;
    if (number.digits.size() > 5) {
        return std::to_string(number.negative ? low : high);
    }
    std::int64_t value = 0;
    for (char c : number.digits) {
        value = value * 10 + (c - '0');
    }
    value = std::clamp(number.negative ? -value : value, low, high);
    return value == 0 ? std::string() : std::to_string(value);
}

std::optional<std::string> typed_qq(std::string_view text) {
    if (text.size() > qq_box_max_length) {
        return std::nullopt;
    }
    return typed(text, qq_box_text);
}

std::optional<std::string> typed_interval(std::string_view text) {
    return typed(text, interval_box_text);
}

}  // namespace zerano
