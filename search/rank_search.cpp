#include "search/rank_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "search/log_lines.h"
#include "text/encoding.h"
#include "text/text_ops.h"
#include "web/web_fetch.h"

namespace zerano {
namespace {

constexpr std::string_view canonical_pattern = R"re(<link rel="canonical" href="([\s\S]*?)"/>)re";
constexpr std::string_view pagination_pattern = R"re(" pos="([1-9]*)">)re";
constexpr std::string_view token_pattern = "'[1-9][0-9]{4,}'";

constexpr std::string_view search_tail =
    "&sClassid=0&Platform=1&charSet=gbk&sf=102&ac=0&as=1&Property=128&PTAG=20084.2.2";
constexpr std::string_view page_marker = "1-60";
constexpr int listings_per_page = 60;
// Keeps every rank and first-listing number of a walk inside int.
constexpr int max_page_total =
    (std::numeric_limits<int>::max() - 2 * listings_per_page) / listings_per_page;

// A whole number read from a box or a page, cut toward zero and kept inside [low, high].
int whole_number(double value, int low, int high) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(value), double(low), double(high)));
}

// One search: the job's own objects and what it has found so far.
class SearchRun {
  public:
    SearchRun(JobWindow& window, SharedSearch& shared, std::string_view host, std::stop_token stop)
        : window_(window), shared_(shared), host_(host), stop_(std::move(stop)) {}

    SearchReport run() {
        if (window_.keyword_text().empty() || window_.qq_text().empty()) {
            window_.show_message(log_lines().enter_first, log_lines().message_caption);
            return report_;
        }
        window_.set_log("");
        target_token_ = "'" + window_.qq_text() + "'";
        if (say(log_lines().running)) {
            // A search that finds no page count must not walk as many pages as the last one.
            shared_.page_count_text.clear();
            search();
        }
        if (stop_.stop_requested()) {
            report_.outcome = SearchOutcome::stopped;
        }
        return report_;
    }

  private:
    void search() {
        const std::string address = "http://" + host_ + "/comm_search?KeyWord=" +
                                    url_encode(window_.keyword_text(), true, true) +
                                    std::string(search_tail);
        if (!fetch(address) || !pause(200)) {
            return;
        }
        first_.find_matches(canonical_pattern, page_text_);
        if (!pause(100)) {
            return;
        }
        if (first_.submatch_count() < 1) {
            report_.outcome = SearchOutcome::no_canonical;
            say(log_lines().no_canonical);
            return;
        }
        canonical_address_ = first_.submatch_text(1, 1);
        if (!fetch(canonical_address_) || !pause(200)) {
            return;
        }
        shared_.shared_matcher.find_matches(pagination_pattern, page_text_);
        for (int i = 1; i <= shared_.shared_matcher.match_count(); ++i) {
            shared_.page_count_text = shared_.shared_matcher.submatch_text(i, 1);
        }
        const double page_count = parse_number(shared_.page_count_text);
        if (page_count - 1 < -1e-7) {
            single_page();
        } else {
            walk(whole_number(page_count, 1, max_page_total));
        }
    }

    void single_page() {
        if (!pause(100)) {
            return;
        }
        first_.find_matches(token_pattern, page_text_);
        ++report_.pages_scanned;
        if (token_scan(first_, 0) && say(log_lines().finished)) {
            report_.outcome = SearchOutcome::finished;
        }
    }

    void walk(int page_total) {
        window_.set_progress_maximum(page_total);
        window_.set_progress_minimum(1);
        int page_offset = listings_per_page;
        int next_start = listings_per_page + 1;
        const int marker = find_position(canonical_address_, page_marker, 1, true);
        FetchOutcome failed_page;  // the failure of the page in hand, reported at its turn

        for (int i = 1; i <= page_total; ++i) {
            if (stop_.stop_requested()) {
                return;
            }
            if (!failed_page.error.empty()) {
                network_error(failed_page);
                return;
            }
            window_.set_progress_position(i);
            second_.find_matches(token_pattern, page_text_);
            ++report_.pages_scanned;
            if (second_.match_count() < 1) {
                if (!say(log_lines().no_token)) {
                    return;
                }
                break;
            }
            if (!token_scan(second_, i == 1 ? 0 : page_offset)) {
                return;
            }
            // Without a page marker no later address can be built.
            if (marker < 1) {
                break;
            }
            const std::string address =
                replace_span(canonical_address_, marker, 1, format_number(next_start));
            next_start += listings_per_page;
            failed_page = fetch_quietly(address);
            if (stop_.stop_requested()) {
                return;
            }
            const int interval =
                whole_number(parse_number(window_.interval_text()), std::numeric_limits<int>::min(),
                             std::numeric_limits<int>::max());
            if (!pause(interval)) {
                return;
            }
            if (i > 1) {
                page_offset += listings_per_page;
            }
        }
        if (say(log_lines().finished) && say(log_lines().wrong_rank) && say(log_lines().credits)) {
            report_.outcome = SearchOutcome::finished;
        }
    }

    // Reports every token of the page that is the shop's; false once stopped.
    bool token_scan(const RegexMatcher& matcher, int page_offset) {
        const int count = matcher.match_count();
        for (int j = 1; j <= count; ++j) {
            if (matcher.match_text(j) == target_token_) {
                const int rank = page_offset + j;
                if (!say(log_lines().rank_found + format_number(rank) + log_lines().going_on)) {
                    return false;
                }
                report_.ranks.push_back(rank);
            }
        }
        return !stop_.stop_requested();
    }

    // Fetches into the page text; a failed request ends the search with its line.
    bool fetch(const std::string& address) {
        const FetchOutcome failure = fetch_quietly(address);
        if (stop_.stop_requested()) {
            return false;
        }
        if (!failure.error.empty()) {
            network_error(failure);
            return false;
        }
        return true;
    }

    // Fetches into the page text. A failed request (no response, a broken transfer, or a status
    // of 400 and above) comes back with `error` saying why.
    FetchOutcome fetch_quietly(const std::string& address) {
        FetchOptions options;
        const std::string body = web_fetch(address, options, stop_);
        page_text_ = utf8_to_ansi(body);
        FetchOutcome outcome = options.outcome;
        if (outcome.status >= 400) {
            outcome.error = "HTTP " + format_number(outcome.status);
        } else if (outcome.status == 0 && outcome.error.empty()) {
            outcome.error = "no response";
        }
        return outcome;
    }

    void network_error(const FetchOutcome& failure) {
        report_.outcome = SearchOutcome::network_error;
        report_.error = failure.error;
        say(log_lines().network_error + failure.error + log_lines().search_aborted);
    }

    bool pause(int ms) {
        if (stop_.stop_requested()) {
            return false;
        }
        window_.paced_wait(ms, stop_);
        return !stop_.stop_requested();
    }

    // Appends a line unless the search was stopped; false once stopped.
    bool say(const std::string& line) {
        if (stop_.stop_requested()) {
            return false;
        }
        window_.append_log(line);
        return true;
    }

    JobWindow& window_;
    SharedSearch& shared_;
    std::string host_;
    std::stop_token stop_;
    SearchReport report_;

    RegexMatcher first_;   // the canonical link, and the tokens of a single result page
    RegexMatcher second_;  // the tokens of each page of a walk
    std::string target_token_;
    std::string page_text_;
    std::string canonical_address_;
};

}  // namespace

std::string search_host() {
    const char* host = std::getenv("ZERANO_SEARCH_HOST");
    return host != nullptr && *host != '\0' ? host : ZERANO_SEARCH_HOST;
}

SearchReport RankSearch(JobWindow& window, SharedSearch& shared, std::string_view host,
                        std::stop_token stop) {
    return SearchRun(window, shared, host, std::move(stop)).run();
}

}  // namespace zerano
