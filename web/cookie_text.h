// Header values and cookie texts ("name=value" items joined by "; ").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zerano {

// The bytes between the first `start_marker` at or after `start` and the next `end_marker`;
// empty when either is missing. "#引号" in a marker stands for a double quote.
std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker, int start = 1, bool ignore_case = false);
std::string text_after_colon(std::string_view text);

std::string cookie_name(std::string_view item);
bool has_cookie_named(const std::vector<std::string>& items, std::string_view name);
int find_item(const std::vector<std::string>& items, std::string_view text);
std::string remove_duplicate_items(std::string_view text, std::string_view separator);

// Folds `received` into `cookies`: a received cookie replaces an old one of the same name and
// "=deleted" items go. Both arguments come back without spaces in them; returns a copy of
// the merged text.
std::string merge_cookies(std::string& cookies, std::string& received);

}  // namespace zerano
