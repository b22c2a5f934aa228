#include "text/regex_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zerano {
namespace {

// Code page 936 bytes, kept apart so that no hex escape runs into the next letter.
const std::string zhong = "\xD6\xD0";  // 中
const std::string wen = "\xCE\xC4";    // 文
const std::string jia = "\xBC\xDB";    // 价
const std::string euro = "\x80";
const std::string trail_a = "\x81\x61";          // trail byte 'a'
const std::string trail_backslash = "\x81\x5C";  // trail byte '\'
const std::string trail_bracket = "\x81\x5B";    // trail byte '['
const std::string quote_marker = "#\xD2\xFD\xBA\xC5";

std::vector<std::string> match_texts(const RegexMatcher& m) {
    std::vector<std::string> texts;
    for (int i = 1; i <= m.match_count(); ++i) {
        texts.push_back(m.match_text(i));
    }
    return texts;
}

std::vector<std::string> group_texts(const RegexMatcher& m, int group) {
    std::vector<std::string> texts;
    for (int i = 1; i <= m.match_count(); ++i) {
        texts.push_back(m.submatch_text(i, group));
    }
    return texts;
}

struct Options {
    bool case_sensitive = false;
    bool multi_line = true;
    bool global_match = true;
};
constexpr Options defaults;
constexpr Options case_sensitive{true, true, true};
constexpr Options single_line{false, false, true};
constexpr Options first_only{false, true, false};

struct SearchCase {
    const char* name;
    std::string pattern;
    std::string subject;
    Options options;
    std::vector<std::string> matches;
};

TEST(RegexMatcher, FindsWhatTheOptionsAndSyntaxAllow) {
    const SearchCase cases[] = {
        {"case folded by default", "abc", "xABCx", defaults, {"ABC"}},
        {"case kept when asked", "abc", "xABCx", case_sensitive, {}},
        {"every match", "a", "aaa", defaults, {"a", "a", "a"}},
        {"first match only", "a", "aaa", first_only, {"a"}},
        {"caret after a line feed", "^b", "a\nb", defaults, {"b"}},
        {"caret after a carriage return", "^b", "a\rb", defaults, {"b"}},
        {"caret at the text start only", "^b", "a\nb", single_line, {}},
        {"caret between CR and LF too", "^", "a\r\nb", defaults, {"", "", ""}},
        {"caret after a final line feed", "^", "a\n", defaults, {"", ""}},
        {"dollar before a carriage return", "a$", "a\r\nb", defaults, {"a"}},
        {"dollar at the very end only", "b$", "b\n", single_line, {}},
        {"dot stops at a line feed", "a.b", "a\nb", defaults, {}},
        {"dot takes a carriage return", "a.b", "a\rb", defaults, {"a\rb"}},
        {"empty pattern, one step on", "", "test", defaults, {"", "", "", "", ""}},
        {"empty match then a longer one", "x*", "axx", defaults, {"", "xx", ""}},
        {"lazy repeat", "<([\\s\\S]*?)>", "<a><b>", defaults, {"<a>", "<b>"}},
        {"counted repeat", "[1-9][0-9]{4,}", "1234 12345 0123456", defaults, {"12345", "123456"}},
        {"\\s is ASCII only", "\\s+", " \t" + std::string("\xA1\xA1") + "x", defaults, {" \t"}},
        {"\\S takes Chinese", "\\S+", zhong + wen + " x", defaults, {zhong + wen, "x"}},
        {"\\u escape", "\\u4E2D", "a" + zhong, defaults, {zhong}},
        {"\\x escape", "\\x41", "xA", case_sensitive, {"A"}},
        {"\\v is the vertical tab alone", "\\v", "\v\n\f", defaults, {"\v"}},
        {"unknown escape is the letter", "\\A\\y", "xAy", defaults, {"Ay"}},
        {"unset back-reference is empty", "(a)?\\1b", "b", defaults, {"b"}},
        {"no POSIX classes", "[[:digit:]]", "5:]", defaults, {":]"}},
        {"empty class matches nothing", "[]a", "a]a", defaults, {}},
        {"negated empty class takes anything", "a[^]b", "a\nb", defaults, {"a\nb"}},
        {"no letter inside a double-byte character", "a", trail_a + "a", defaults, {"a"}},
        {"trail byte backslash in the pattern",
         trail_backslash,
         "x" + trail_backslash,
         defaults,
         {trail_backslash}},
        {"trail byte bracket in the pattern",
         trail_bracket + "+",
         trail_bracket + trail_bracket,
         defaults,
         {trail_bracket + trail_bracket}},
        {"Chinese pattern", jia + "[0-9]+", wen + jia + "12" + jia, defaults, {jia + "12"}},
        {"euro byte", euro + "\\d", "x" + euro + "5", defaults, {euro + "5"}},
        {"zero byte inside the subject",
         "b.c",
         std::string("ab\0cd", 5),
         defaults,
         {std::string("b\0c", 3)}},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexMatcher m;
        EXPECT_TRUE(m.find_matches(c.pattern, c.subject, c.options.case_sensitive,
                                   c.options.multi_line, c.options.global_match));
        EXPECT_EQ(match_texts(m), c.matches);
    }
}

struct JobPatternCase {
    const char* name;
    std::string pattern;
    std::string fragment;
    int group;  // 0: the whole match
    std::vector<std::string> texts;
};

TEST(RegexMatcher, ReadsPageFragmentsWithTheJobsPatterns) {
    const std::string canonical = "<link rel=\"canonical\" href=\"([\\s\\S]*?)\"/>";
    const std::string pagination = "\" pos=\"([1-9]*)\">";
    const std::string token = "'[1-9][0-9]{4,}'";
    const JobPatternCase cases[] = {
        {"canonical link",
         canonical,
         "<head><link rel=\"canonical\" href=\"http://s.example/k-1-60.html\"/></head>",
         1,
         {"http://s.example/k-1-60.html"}},
        {"canonical link in capitals",
         canonical,
         "<LINK REL=\"CANONICAL\" HREF=\"http://S.example/" + zhong + "\"/>",
         1,
         {"http://S.example/" + zhong}},
        {"canonical link closing with a space runs on to the next \"/>",
         canonical,
         "<link rel=\"canonical\" href=\"http://a/b\" /><meta name=\"k\" content=\"v\"/>",
         1,
         {"http://a/b\" /><meta name=\"k\" content=\"v"}},
        {"canonical link across lines",
         canonical,
         "<link rel=\"canonical\"\nhref=\"x\"/><link rel=\"canonical\" href=\"a\r\nb\"/>",
         1,
         {"a\r\nb"}},
        {"pagination values without 0",
         pagination,
         "<a class=\"p\" pos=\"12\"><a class=\"p\" pos=\"10\"><a class=\"p\" pos=\"7\">"
         "<a class=\"p\" pos=\"\">",
         1,
         {"12", "7", ""}},
        {"tokens of five digits or more, not from 0",
         token,
         "['12345','012345','1234','123456789',\"55555\",'10000']",
         0,
         {"'12345'", "'123456789'", "'10000'"}},
        {"adjacent tokens", token, "'11111''22222'", 0, {"'11111'", "'22222'"}},
    };
    for (const JobPatternCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches(c.pattern, c.fragment));
        EXPECT_EQ(c.group == 0 ? match_texts(m) : group_texts(m, c.group), c.texts);
    }
}

TEST(RegexMatcher, GivesNothingBeforeTheFirstSearch) {
    const RegexMatcher m;
    EXPECT_EQ(m.match_count(), 0);
    EXPECT_EQ(m.submatch_count(), 0);
    EXPECT_EQ(m.match_text(1), "");
    EXPECT_EQ(m.submatch_text(1, 1), "");
    EXPECT_EQ(m.pattern_text(), "");
    EXPECT_EQ(m.replace("x"), "");
}

struct GroupCheck {
    int match;
    int group;
    std::string text;
};

struct GroupCase {
    const char* name;
    std::string pattern;
    std::string subject;
    int submatch_count;
    std::vector<GroupCheck> checks;
};

TEST(RegexMatcher, ReadsGroupsByNumberAndGivesEmptyOutOfRange) {
    const GroupCase cases[] = {
        {"two groups matching twice",
         "(a)(b)",
         "abab",
         2,
         {{1, 1, "a"},
          {2, 2, "b"},
          {1, 0, ""},
          {1, 3, ""},
          {0, 1, ""},
          {3, 1, ""},
          {-1, 1, ""},
          {1, -1, ""}}},
        {"group that took no part", "(a)|(b)", "b", 2, {{1, 1, ""}, {1, 2, "b"}}},
        {"groups of a pattern that found nothing", "(a)(b)", "xyz", 0, {{1, 1, ""}}},
        {"no groups", "a", "a", 0, {{1, 1, ""}}},
        {"Chinese group", ">([\\s\\S]*?)<", "<b>" + zhong + wen + "</b>", 1, {{1, 1, zhong + wen}}},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches(c.pattern, c.subject));
        EXPECT_EQ(m.submatch_count(), c.submatch_count);
        for (const GroupCheck& check : c.checks) {
            EXPECT_EQ(m.submatch_text(check.match, check.group), check.text)
                << "match " << check.match << " group " << check.group;
        }
    }
    RegexMatcher m;
    ASSERT_TRUE(m.find_matches("a", "aa"));
    EXPECT_EQ(m.match_text(0), "");
    EXPECT_EQ(m.match_text(3), "");
    EXPECT_EQ(m.match_text(-1), "");
}

TEST(RegexMatcher, ExpandsTheQuoteMarkerOnlyWhenAsked) {
    const struct {
        bool expand;
        std::string pattern_text;
        std::string subject;
    } cases[] = {
        {true, "a\"b\"", "a\"b\""},
        {false, "a" + quote_marker + "b" + quote_marker, "a" + quote_marker + "b" + quote_marker},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expand);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches("a" + quote_marker + "b" + quote_marker, "x" + c.subject + "x",
                                   false, true, true, c.expand));
        EXPECT_EQ(m.pattern_text(), c.pattern_text);
        EXPECT_EQ(match_texts(m), std::vector<std::string>{c.subject});
    }
}

TEST(RegexMatcher, RejectedPatternLeavesNothingOfTheSearchBefore) {
    for (const char* pattern : {"(", ")", "a**", "[a", "\\", "a{2,1}"}) {
        SCOPED_TRACE(pattern);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches("(a)", "aa"));
        EXPECT_FALSE(m.find_matches(pattern, "aa"));
        EXPECT_EQ(m.match_count(), 0);
        EXPECT_EQ(m.submatch_count(), 0);
        EXPECT_EQ(m.match_text(1), "");
        EXPECT_EQ(m.submatch_text(1, 1), "");
        EXPECT_EQ(m.replace("x"), "");
        EXPECT_EQ(m.pattern_text(), pattern);
    }
}

TEST(RegexMatcher, SecondSearchDescribesItselfOnly) {
    RegexMatcher m;
    ASSERT_TRUE(m.find_matches("(a)(b)", "abab"));
    ASSERT_TRUE(m.find_matches("c", "xcx", true, false, false));
    EXPECT_EQ(match_texts(m), std::vector<std::string>{"c"});
    EXPECT_EQ(m.submatch_count(), 0);
    EXPECT_EQ(m.submatch_text(1, 1), "");
    EXPECT_EQ(m.pattern_text(), "c");
    EXPECT_EQ(m.replace("-"), "x-x");
    ASSERT_TRUE(m.find_matches("C", "xcx", true));
    EXPECT_EQ(m.match_count(), 0);
    EXPECT_EQ(m.replace("-"), "xcx");
}

TEST(RegexMatcher, ReplacesWithEcmaScriptSubstitutions) {
    const struct {
        std::string pattern;
        std::string subject;
        bool global_match;
        std::string replacement;
        std::string result;
    } cases[] = {
        {"a", "xaxa", true, "[$&]", "x[a]x[a]"},
        {"a", "xaxa", false, "[$&]", "x[a]xa"},
        {"(a)(b)", "abab", true, "$2$1", "baba"},
        {"b", "abc", true, "$`|$'", "aa|cc"},
        {"b", "abc", true, "$$", "a$c"},
        {"b", "abc", true, "$0$1$", "a$0$1$c"},
        {"(b)", "abc", true, "$10", "ab0c"},
        {"(b)", "abc", true, "$01", "abc"},
        {"(x)|b", "abc", true, "[$1]", "a[]c"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", "abcdefghijkl", true, "$12$1", "la"},
        {"", "xxx", true, "y", "yxyxyxy"},
        {"z", "abc", true, "y", "abc"},
        {"b", "a" + zhong + "b" + wen, true, jia + "$&", "a" + zhong + jia + "b" + wen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern + " / " + c.replacement);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches(c.pattern, c.subject, false, true, c.global_match));
        EXPECT_EQ(m.replace(c.replacement), c.result);
    }
}

// The byte offset counts every double-byte character as two bytes, so a text that occurs again
// further on is placed where it stands and not where an earlier copy stands.
TEST(RegexMatcher, PlacesMatchesByTheirByteOffset) {
    const std::string subject = zhong + zhong + zhong + zhong + "1x1" + euro + "y1";
    RegexMatcher m;
    ASSERT_TRUE(m.find_matches("(x|y)?(1)", subject));
    ASSERT_EQ(m.match_count(), 3);
    const struct {
        int match;
        int group;  // 0: match_text
        int position;
        std::string text;
    } cases[] = {
        {1, 0, 8, "1"},  {2, 0, 9, "x1"}, {3, 0, 12, "y1"}, {3, 1, 12, "y"},
        {3, 2, 13, "1"}, {1, 1, -1, ""},  {4, 0, -1, ""},   {0, 0, -1, ""},
        {1, 3, -1, ""},  {1, -1, -1, ""}, {-1, 2, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "match " << c.match << " group " << c.group);
        int position = 99;
        const std::string text = c.group == 0 ? m.match_text(c.match, position)
                                              : m.submatch_text(c.match, c.group, position);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(position, c.position);
    }
}

TEST(RegexMatcher, SearchOverTheMatchLimitFailsCleanly) {
    RegexMatcher m;
    ASSERT_TRUE(m.find_matches("a", "a"));
    EXPECT_FALSE(m.find_matches("(a+)+b", std::string(40, 'a') + "cb"));
    EXPECT_EQ(m.match_count(), 0);
    EXPECT_EQ(m.match_text(1), "");
    EXPECT_EQ(m.replace("x"), "");
}

TEST(RegexMatcher, SearchesAMegabytePage) {
    const std::string filler(1 << 20, 'a');
    const struct {
        const char* name;
        std::string pattern;
        std::string page;
        std::size_t group_size;
    } cases[] = {
        {"lazy run over the page", "<link rel=\"canonical\" href=\"([\\s\\S]*?)\"/>",
         "<link rel=\"canonical\" href=\"" + filler + "\"/>", filler.size()},
        {"group repeated once a character", "<p>((?:[^<]|<(?!/p>))*)</p>", "<p>" + filler + "</p>",
         filler.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexMatcher m;
        ASSERT_TRUE(m.find_matches(c.pattern, c.page));
        ASSERT_EQ(m.match_count(), 1);
        EXPECT_EQ(m.submatch_text(1, 1).size(), c.group_size);
    }
}

}  // namespace
}  // namespace zerano
