// The token scan of one result page: code page 936 to UTF-16, the search, every match text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "text/code_page.h"
#include "text/regex_matcher.h"

namespace {

constexpr int listings = 60;
constexpr std::size_t page_size = 300 * 1024;
const char* const token_pattern = "'[1-9][0-9]{4,}'";

// A result page in code page 936: markup with Chinese titles, quoted values that are no
// tokens, and one listing token per listing, padded to 300 KB with `filler`.
std::string result_page(const std::string& filler) {
    const std::string title = "\xD0\xC2\xBF\xEE\xC5\xAE\xD7\xB0 \xC1\xAC\xD2\xC2\xC8\xB9";
    const std::string price = "\xBC\xDB\xB8\xF1";
    std::string page =
        "<!DOCTYPE html><html><head><meta charset=\"gbk\"><link rel=\"canonical\" "
        "href=\"http://s.example/k-1-60.html\"/></head><body>\n";
    for (int i = 0; i < listings; ++i) {
        const std::string n = std::to_string(i);
        page += "<li class=\"item\" data-pos=\"" + n + "\"><a href=\"http://s.example/item/" + n +
                "\" target=\"_blank\">" + title + n + "</a><span class=\"price\">" + price + " 1" +
                n + ".00</span><script>show('" + std::to_string(123456789 + i) + "', 'tag', '0" +
                n + "1234', '12" + n + "');</script></li>\n";
    }
    while (page.size() + filler.size() < page_size) {
        page += filler;
    }
    return page + "</body></html>";
}

// Markup as result pages have it: double-quoted attributes, a few single quotes in scripts.
const std::string markup_filler =
    "<div class=\"side-item\" style=\"margin:0 4px;float:left\"><a href=\"/c/12/list-1-60.html\" "
    "title=\"\xD0\xC2\xBF\xEE\">\xD0\xC2\xBF\xEE\xC5\xAE\xD7\xB0</a><img src=\"//img.example/p/"
    "8080.jpg\" width=\"120\" height=\"120\" alt=\"\"/><span class=\"tag\">\xBC\xDB\xB8\xF1 "
    "35.00</span><script>track('side', 3);</script></div>\n";

// The worst case for the scan: every eleventh byte a single quote, each a place to try.
const std::string quote_filler =
    "<div class='side' style='margin:0 4px'><a href=\"/c/1\">\xD0\xC2\xBF\xEE</a><script>var "
    "cfg = {'k': 'v', 'n': '8080'};</script></div>\n";

void token_scan(benchmark::State& state, const std::string& filler) {
    const std::string page = result_page(filler);
    zerano::RegexMatcher matcher;
    for (auto _ : state) {
        matcher.find_matches(token_pattern, page);
        for (int i = 1; i <= matcher.match_count(); ++i) {
            benchmark::DoNotOptimize(matcher.match_text(i));
        }
    }
    if (matcher.match_count() != listings) {
        state.SkipWithError("the page does not hold 60 tokens");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK_CAPTURE(token_scan, result_page, markup_filler)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(token_scan, quote_dense_page, quote_filler)->Unit(benchmark::kMicrosecond);

// The conversion alone, for how the scan's time divides.
void BM_page_to_utf16(benchmark::State& state) {
    const std::string page = result_page(markup_filler);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zerano::gbk_to_utf16(page));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_page_to_utf16)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
