// Regular-expression searches over code page 936 text, read back by numbers from 1.
//
// A search replaces everything of the one before. Options follow the ECMAScript engine the
// job's patterns were written for: case folding, "^"/"$" at line breaks, every match; "."
// never matches a line feed. A rejected pattern, or a search over the engine's limits, finds
// nothing: counts are 0 and texts empty.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zerano {

class RegexMatcher {
  public:
    RegexMatcher();
    ~RegexMatcher();
    RegexMatcher(const RegexMatcher&) = delete;
    RegexMatcher& operator=(const RegexMatcher&) = delete;

    // True when the pattern was accepted and the search ran (even if it found nothing).
    // With `expand_quote_marker`, every "#引号" (in code page 936) in the pattern stands for a
    // double quote.
    bool find_matches(std::string_view pattern, std::string_view subject,
                      bool case_sensitive = false, bool multi_line = true, bool global_match = true,
                      bool expand_quote_marker = false);

    std::string pattern_text() const;
    // The last subject with its matches replaced (ECMAScript replacement syntax).
    std::string replace(std::string_view replacement) const;

    int match_count() const;
    std::string match_text(int match_number) const;
    // `position`: the match's 0-based byte offset in the subject text; -1 when the match (or
    // the group) is out of range or took no part.
    std::string match_text(int match_number, int& position) const;
    // The groups of the first match; 0 when nothing matched.
    int submatch_count() const;
    std::string submatch_text(int match_number, int submatch_number) const;
    std::string submatch_text(int match_number, int submatch_number, int& position) const;

  private:
    struct Search;
    std::unique_ptr<Search> search_;
};

}  // namespace zerano
