#include "cli/output.h"

#include <cstdio>
#include <ctime>

namespace zerano {
namespace {

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    quoted += escaped;
                } else {
                    quoted += static_cast<char>(c);
                }
        }
    }
    return quoted + "\"";
}

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

const char* outcome_name(SearchOutcome outcome) {
    switch (outcome) {
        case SearchOutcome::finished:
            return "finished";
        case SearchOutcome::no_canonical:
            return "no-canonical";
        case SearchOutcome::network_error:
            return "network-error";
        case SearchOutcome::stopped:
            return "stopped";
        case SearchOutcome::missing_input:
            break;
    }
    return "missing-input";
}

}  // namespace

std::string iso8601_utc(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string json_line(const SearchRecord& record) {
    std::string line =
        "{\"keyword\":" + json_string(record.keyword) + ",\"qq\":" + json_string(record.qq) +
        ",\"checked_at\":" + json_string(iso8601_utc(record.checked_at)) +
        ",\"elapsed_ms\":" + std::to_string(record.elapsed.count()) +
        ",\"pages_scanned\":" + std::to_string(record.report.pages_scanned) + ",\"ranks\":[";
    for (std::size_t i = 0; i < record.report.ranks.size(); ++i) {
        line += (i > 0 ? "," : "") + std::to_string(record.report.ranks[i]);
    }
    line += "],\"outcome\":" + json_string(outcome_name(record.report.outcome));
    if (!record.report.error.empty()) {
        line += ",\"error\":" + json_string(record.report.error);
    }
    line += ",\"log\":[";
    for (std::size_t i = 0; i < record.log.size(); ++i) {
        line += (i > 0 ? "," : "") + json_string(record.log[i]);
    }
    return line + "]}\n";
}

std::string csv_header() {
    return "\xEF\xBB\xBF"
           "checked_at,keyword,qq,rank,page,position\r\n";
}

std::string csv_rows(const SearchRecord& record) {
    constexpr int per_page = 60;
    std::string rows;
    for (int rank : record.report.ranks) {
        rows += iso8601_utc(record.checked_at) + "," + csv_field(record.keyword) + "," +
                csv_field(record.qq) + "," + std::to_string(rank) + "," +
                std::to_string((rank - 1) / per_page + 1) + "," +
                std::to_string((rank - 1) % per_page + 1) + "\r\n";
    }
    return rows;
}

}  // namespace zerano
