#include "text/regex_matcher.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/code_page.h"

namespace zerano {
namespace {

// PCRE2 handles, freed by their own calls; unique_ptr gives the deleted copy and the move.
template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* handle) const noexcept { Free(handle); }
};
template <typename T, void (*Free)(T*)>
using Handle = std::unique_ptr<T, Freer<T, Free>>;

using Code = Handle<pcre2_code_16, pcre2_code_free_16>;
using CompileContext = Handle<pcre2_compile_context_16, pcre2_compile_context_free_16>;
using MatchContext = Handle<pcre2_match_context_16, pcre2_match_context_free_16>;
using MatchData = Handle<pcre2_match_data_16, pcre2_match_data_free_16>;
using JitStack = Handle<pcre2_jit_stack_16, pcre2_jit_stack_free_16>;

// A group repeated once per character of a 1 MB page takes about 64 MB of JIT stack; the
// stack is only reserved up front, pages are committed as the match needs them.
constexpr std::size_t jit_stack_start = 32 * 1024;
constexpr std::size_t jit_stack_max = 128 * 1024 * 1024;
constexpr std::uint32_t match_limit = 10'000'000;
constexpr std::uint32_t heap_limit_kib = 128 * 1024;

// Each code unit is one character and no subject can be invalid UTF, as in the engine the
// patterns were written for; the rest brings PCRE2 to its ECMAScript-style reading.
constexpr std::uint32_t base_options = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_ALT_BSUX |
                                       PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY |
                                       PCRE2_ALLOW_EMPTY_CLASS | PCRE2_ALT_CIRCUMFLEX;

// "#引号" in code page 936.
constexpr std::string_view quote_marker = "#\xD2\xFD\xBA\xC5";

bool is_ascii_letter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Letters that keep a meaning after a backslash; every other escaped letter stands for itself.
bool is_meaningful_escape(char16_t c, bool in_class) {
    static constexpr std::u16string_view everywhere = u"bdDwWsStnvfrcxu";
    return everywhere.find(c) != std::u16string_view::npos || (!in_class && c == u'B');
}

// Rewrites the pattern where PCRE2's syntax departs from ECMAScript's: PCRE2-only escapes
// become the letter, "\v" is the vertical tab alone, "[" inside a class is literal (no POSIX
// classes), and with line breaks "^" and "$" also stand after and before a carriage return.
std::u16string to_engine_pattern(std::u16string_view pattern, bool multi_line) {
    std::u16string out;
    out.reserve(pattern.size() + 16);
    bool in_class = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'\\' && i + 1 < pattern.size()) {
            const char16_t escaped = pattern[++i];
            if (is_ascii_letter(escaped) && !is_meaningful_escape(escaped, in_class)) {
                out += escaped;
            } else if (escaped == u'v') {
                out += u"\\x0B";
            } else if (escaped == u'c' &&
                       !(i + 1 < pattern.size() && is_ascii_letter(pattern[i + 1]))) {
                out += u"\\\\c";
            } else {
                out += c;
                out += escaped;
            }
        } else if (in_class) {
            if (c == u']') {
                in_class = false;
            }
            out += c == u'[' ? std::u16string_view(u"\\[") : std::u16string_view(&c, 1);
        } else if (c == u'[') {
            in_class = true;
            out += c;
            if (i + 1 < pattern.size() && pattern[i + 1] == u'^') {
                out += pattern[++i];
            }
        } else if (multi_line && c == u'^') {
            out += u"(?:^|(?<=\r))";
        } else if (multi_line && c == u'$') {
            out += u"(?:$|(?=\r))";
        } else {
            out += c;
        }
    }
    return out;
}

std::string expand_marker(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size());
    std::size_t from = 0;
    for (std::size_t at; (at = pattern.find(quote_marker, from)) != std::string_view::npos;
         from = at + quote_marker.size()) {
        out.append(pattern, from, at - from);
        out += '"';
    }
    out.append(pattern, from);
    return out;
}

constexpr std::size_t unset = PCRE2_UNSET;

struct Span {
    std::size_t start = unset;
    std::size_t end = unset;
};

}  // namespace

struct RegexMatcher::Search {
    // Kept from one search to the next: contexts, the JIT stack and the match data carry no
    // result, only room to work in.
    CompileContext compile_context{pcre2_compile_context_create_16(nullptr)};
    MatchContext match_context{pcre2_match_context_create_16(nullptr)};
    JitStack jit_stack{pcre2_jit_stack_create_16(jit_stack_start, jit_stack_max, nullptr)};
    MatchData match_data;
    std::uint32_t match_data_pairs = 0;

    // The last search.
    bool found = false;
    std::string pattern;
    std::u16string subject;
    std::size_t groups = 0;
    std::vector<Span> spans;  // groups + 1 spans for each match, the whole match first

    Search() {
        if (compile_context) {
            pcre2_set_newline_16(compile_context.get(), PCRE2_NEWLINE_LF);
        }
        if (match_context) {
            pcre2_set_match_limit_16(match_context.get(), match_limit);
            pcre2_set_heap_limit_16(match_context.get(), heap_limit_kib);
            if (jit_stack) {
                pcre2_jit_stack_assign_16(match_context.get(), nullptr, jit_stack.get());
            }
        }
    }

    void clear_results() {
        found = false;
        groups = 0;
        spans.clear();
        subject.clear();
    }

    bool usable() const { return compile_context && match_context && jit_stack; }

    std::size_t match_count() const { return found ? spans.size() / (groups + 1) : 0; }

    // The span of group `group` (0: the whole match) of match `match` (from 1), or nullptr.
    const Span* span(int match, int group) const {
        if (match < 1 || group < 0 || static_cast<std::size_t>(match) > match_count() ||
            static_cast<std::size_t>(group) > groups) {
            return nullptr;
        }
        const Span& s = spans[(static_cast<std::size_t>(match) - 1) * (groups + 1) +
                              static_cast<std::size_t>(group)];
        return s.start == unset ? nullptr : &s;
    }

    std::string text(const Span* s) const {
        return s ? utf16_to_gbk(std::u16string_view(subject).substr(s->start, s->end - s->start))
                 : std::string();
    }

    // Counted only when asked for, so that reading texts pays nothing for it.
    int byte_offset(const Span* s) const {
        return s ? static_cast<int>(
                       utf16_to_gbk(std::u16string_view(subject).substr(0, s->start)).size())
                 : -1;
    }

    bool run(std::string_view subject_text, bool case_sensitive, bool multi_line,
             bool global_match) {
        const std::uint32_t options = base_options | (case_sensitive ? 0 : PCRE2_CASELESS) |
                                      (multi_line ? PCRE2_MULTILINE : 0);
        const std::u16string source = to_engine_pattern(gbk_to_utf16(pattern), multi_line);
        int error = 0;
        PCRE2_SIZE error_offset = 0;
        const Code code{pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(source.data()),
                                         source.size(), options, &error, &error_offset,
                                         compile_context.get())};
        if (!code) {
            return false;
        }
        // Without JIT the interpreter runs under the same limits.
        pcre2_jit_compile_16(code.get(), PCRE2_JIT_COMPLETE);

        std::uint32_t capture_count = 0;
        pcre2_pattern_info_16(code.get(), PCRE2_INFO_CAPTURECOUNT, &capture_count);
        if (!match_data || match_data_pairs < capture_count + 1) {
            match_data.reset(pcre2_match_data_create_16(capture_count + 1, nullptr));
            match_data_pairs = match_data ? capture_count + 1 : 0;
            if (!match_data) {
                return false;
            }
        }
        groups = capture_count;
        subject = gbk_to_utf16(subject_text);

        const auto* units = reinterpret_cast<PCRE2_SPTR16>(subject.data());
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(match_data.get());
        for (std::size_t from = 0; from <= subject.size();) {
            const int rc = pcre2_match_16(code.get(), units, subject.size(), from, 0,
                                          match_data.get(), match_context.get());
            if (rc == PCRE2_ERROR_NOMATCH) {
                break;
            }
            if (rc < 0) {
                return false;
            }
            for (std::size_t g = 0; g <= groups; ++g) {
                spans.push_back({ovector[2 * g], ovector[2 * g + 1]});
            }
            if (!global_match) {
                break;
            }
            // After an empty match the next one is looked for one code unit further on.
            from = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
        }
        return true;
    }

    // ECMAScript replacement: $$, $&, $`, $', and $n or $nn for an existing group.
    void expand(std::u16string_view replacement, std::size_t match, std::u16string& out) const {
        const Span* base = &spans[match * (groups + 1)];
        const auto group_text = [&](std::size_t g) {
            const Span& s = base[g];
            if (s.start != unset) {
                out.append(subject, s.start, s.end - s.start);
            }
        };
        const auto digit = [&](std::size_t i) -> std::size_t {
            return i < replacement.size() && replacement[i] >= u'0' && replacement[i] <= u'9'
                       ? replacement[i] - u'0'
                       : 10;
        };
        for (std::size_t i = 0; i < replacement.size(); ++i) {
            const char16_t c = replacement[i];
            const char16_t next = i + 1 < replacement.size() ? replacement[i + 1] : u'\0';
            if (c != u'$') {
                out += c;
            } else if (next == u'$') {
                out += u'$';
                ++i;
            } else if (next == u'&') {
                group_text(0);
                ++i;
            } else if (next == u'`') {
                out.append(subject, 0, base[0].start);
                ++i;
            } else if (next == u'\'') {
                out.append(subject, base[0].end);
                ++i;
            } else if (const std::size_t tens = digit(i + 1), ones = digit(i + 2);
                       tens < 10 && ones < 10 && tens * 10 + ones >= 1 &&
                       tens * 10 + ones <= groups) {
                group_text(tens * 10 + ones);
                i += 2;
            } else if (tens >= 1 && tens <= groups) {
                group_text(tens);
                ++i;
            } else {
                out += c;
            }
        }
    }
};

// The engine needs no per-thread initialisation, so construction and destruction pair nothing
// up; every search still replaces all that the one before left.
RegexMatcher::RegexMatcher() : search_(std::make_unique<Search>()) {}

RegexMatcher::~RegexMatcher() = default;

bool RegexMatcher::find_matches(std::string_view pattern, std::string_view subject,
                                bool case_sensitive, bool multi_line, bool global_match,
                                bool expand_quote_marker) {
    Search& s = *search_;
    s.clear_results();
    s.pattern = expand_quote_marker ? expand_marker(pattern) : std::string(pattern);
    s.found = s.usable() && s.run(subject, case_sensitive, multi_line, global_match);
    if (!s.found) {
        s.clear_results();
    }
    return s.found;
}

std::string RegexMatcher::pattern_text() const {
    return search_->pattern;
}

std::string RegexMatcher::replace(std::string_view replacement) const {
    const Search& s = *search_;
    if (!s.found) {
        return {};
    }
    const std::u16string units = gbk_to_utf16(replacement);
    std::u16string out;
    std::size_t copied = 0;
    for (std::size_t m = 0; m < s.match_count(); ++m) {
        const Span& whole = s.spans[m * (s.groups + 1)];
        out.append(s.subject, copied, whole.start - copied);
        s.expand(units, m, out);
        copied = whole.end;
    }
    out.append(s.subject, copied);
    return utf16_to_gbk(out);
}

int RegexMatcher::match_count() const {
    return static_cast<int>(search_->match_count());
}

std::string RegexMatcher::match_text(int match_number) const {
    return search_->text(search_->span(match_number, 0));
}

std::string RegexMatcher::match_text(int match_number, int& position) const {
    const Span* s = search_->span(match_number, 0);
    position = search_->byte_offset(s);
    return search_->text(s);
}

int RegexMatcher::submatch_count() const {
    return search_->match_count() > 0 ? static_cast<int>(search_->groups) : 0;
}

std::string RegexMatcher::submatch_text(int match_number, int submatch_number) const {
    return submatch_number < 1 ? std::string()
                               : search_->text(search_->span(match_number, submatch_number));
}

std::string RegexMatcher::submatch_text(int match_number, int submatch_number,
                                        int& position) const {
    const Span* s = submatch_number < 1 ? nullptr : search_->span(match_number, submatch_number);
    position = search_->byte_offset(s);
    return search_->text(s);
}

}  // namespace zerano
