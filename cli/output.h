// The three output formats of the command line.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "search/rank_search.h"

namespace zerano {

enum class OutputFormat { log, json, csv };

// One finished (or stopped) search, in UTF-8.
struct SearchRecord {
    std::string keyword;
    std::string qq;
    std::chrono::system_clock::time_point checked_at;
    std::chrono::milliseconds elapsed{};
    SearchReport report;
    std::vector<std::string> log;  // the lines without their line breaks
};

std::string iso8601_utc(std::chrono::system_clock::time_point time);
std::string json_line(const SearchRecord& record);
// The header, after the byte-order mark that spreadsheet programs need for UTF-8.
std::string csv_header();
std::string csv_rows(const SearchRecord& record);

}  // namespace zerano
