// The rank search: one press of Start.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "search/job_window.h"
#include "text/regex_matcher.h"

namespace zerano {

// Made at start-up and kept for the life of the program; one search uses them at a time.
struct SharedSearch {
    RegexMatcher shared_matcher;  // reads the pagination values of the canonical page
    std::string page_count_text;  // the last pagination value found
};

enum class SearchOutcome {
    missing_input,  // keyword or QQ box empty: the message box, no request
    finished,       // reached its end line
    no_canonical,   // the search page named no canonical address
    network_error,  // a request failed
    stopped,        // the stop token ended it
};

// What the search found, for front ends that report more than the log.
struct SearchReport {
    SearchOutcome outcome = SearchOutcome::missing_input;
    std::vector<int> ranks;
    int pages_scanned = 0;
    std::string error;  // the reason of a network error
};

// The marketplace search host: $ZERANO_SEARCH_HOST when set and not empty, else the build's
// setting.
std::string search_host();

// Runs the whole search on the calling thread, writing its lines into `window`. Once `stop` is
// requested no further line, request or pause happens.
SearchReport RankSearch(JobWindow& window, SharedSearch& shared, std::string_view host,
                        std::stop_token stop = {});

}  // namespace zerano
