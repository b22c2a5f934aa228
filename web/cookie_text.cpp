#include "web/cookie_text.h"

#include "text/text_ops.h"

namespace zerano {
namespace {

// "#引号" in code page 936.
constexpr std::string_view quote_mark_word = "#\xD2\xFD\xBA\xC5";
constexpr std::string_view deleted_suffix = "=deleted";

bool is_deleted(std::string_view item) {
    return item.size() >= deleted_suffix.size() &&
           item.substr(item.size() - deleted_suffix.size()) == deleted_suffix;
}

}  // namespace

std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker, int start, bool ignore_case) {
    const std::string opening = replace_every(start_marker, quote_mark_word, "\"");
    const std::string closing = replace_every(end_marker, quote_mark_word, "\"");
    const int found = find_position(text, opening, start, ignore_case);
    if (found == -1) {
        return {};
    }
    const int from = found + static_cast<int>(opening.size());
    const int to = find_position(text, closing, from, ignore_case);
    if (to == -1) {
        return {};
    }
    return std::string(text.substr(from - 1, to - from));
}

std::string text_after_colon(std::string_view text) {
    const int colon = find_position(text, ":");
    if (colon == -1) {
        return {};
    }
    return trimmed(text.substr(colon));
}

std::string cookie_name(std::string_view item) {
    const int equals = find_position(item, "=");
    return trimmed(equals == -1 ? item : item.substr(0, equals - 1));
}

bool has_cookie_named(const std::vector<std::string>& items, std::string_view name) {
    for (const std::string& item : items) {
        if (cookie_name(item) == name) {
            return true;
        }
    }
    return false;
}

int find_item(const std::vector<std::string>& items, std::string_view text) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == text) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

std::string remove_duplicate_items(std::string_view text, std::string_view separator) {
    std::vector<std::string> taken;
    std::string result;
    for (std::string& piece : split_items(text, separator)) {
        if (find_item(taken, piece) == -1) {
            result += piece;
            result += separator;
            taken.push_back(std::move(piece));
        }
    }
    if (!taken.empty()) {
        result.resize(result.size() - separator.size());
    }
    return result;
}

std::string merge_cookies(std::string& cookies, std::string& received) {
    cookies = without_spaces(cookies);
    received = without_spaces(received);
    std::vector<std::string> merged = split_items(received, ";");
    for (std::string& old_item : split_items(cookies, ";")) {
        if (!has_cookie_named(merged, cookie_name(old_item))) {
            merged.push_back(std::move(old_item));
        }
    }
    std::string joined;
    for (const std::string& item : merged) {
        if (!is_deleted(item)) {
            joined += item;
            joined += "; ";
        }
    }
    if (!joined.empty()) {
        joined.resize(joined.size() - 2);
    }
    cookies = remove_duplicate_items(joined, "; ");
    return cookies;
}

}  // namespace zerano
