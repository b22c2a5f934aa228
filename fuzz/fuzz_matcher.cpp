// Arbitrary patterns over arbitrary code page 936 bytes: the first byte picks the options, a
// zero byte ends the pattern, the rest is the subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/regex_matcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view subject =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    const unsigned flags = data[0];

    zerano::RegexMatcher matcher;
    matcher.find_matches(pattern, subject, flags & 1, flags & 2, flags & 4, flags & 8);
    int previous = 0;
    for (int i = 1; i <= matcher.match_count(); ++i) {
        int position = -1;
        matcher.match_text(i, position);
        // Matches come in subject order and stand inside it.
        if (position < previous || static_cast<std::size_t>(position) > subject.size()) {
            std::abort();
        }
        previous = position;
        for (int g = 1; g <= matcher.submatch_count(); ++g) {
            matcher.submatch_text(i, g, position);
        }
    }
    matcher.replace(subject.substr(0, 16));
    return 0;
}
