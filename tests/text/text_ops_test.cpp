#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace zerano {
namespace {

// "\x81\x41" is one double-byte character whose trail byte is the letter A.
constexpr std::string_view trail_a = "\x81\x41";
constexpr std::string_view address = "http://x/s-1-60.html";

TEST(FindPosition, WalksByCharacters) {
    struct Case {
        std::string_view text, sought;
        int start;
        bool ignore_case;
        int expected;
    };
    const Case cases[] = {
        {address, "1-60", 1, true, 12},
        {"http://x/s-2.html", "1-60", 1, true, -1},
        {trail_a, "A", 1, false, -1},
        {"\x81\x41"
         "A",
         "A", 1, false, 3},
        {"\x81\x41\x81\x41", "\x41\x81", 1, false, -1},
        {"ab\xCA", "\xCA", 1, false, 3},
        {"abc", "a", 0, false, 1},
        {"abc", "a", -5, false, 1},
        {"abc", "c", 3, false, 3},
        {"abc", "c", 4, false, -1},
        {"abcabc", "abc", 2, false, 4},
        {"ABC", "b", 1, true, 2},
        {"ABC", "b", 1, false, -1},
        {"a[c", "{", 1, true, -1},
        {"\x81\x61", trail_a, 1, true, -1},
        {"x\x81\x41"
         "b",
         "X\x81\x41"
         "B",
         1, true, 1},
        {"ab", "abc", 1, false, -1},
        {"", "a", 1, false, -1},
        {"abc", "", 2, false, 2},
        {"abc", "", 4, false, -1},
        {"", "", 1, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::string(c.sought));
        EXPECT_EQ(find_position(c.text, c.sought, c.start, c.ignore_case), c.expected);
    }
}

TEST(Lowercased, FoldsOnlyAsciiLettersOutsideDoubleByteCharacters) {
    EXPECT_EQ(lowercased("AbZ@[\x81\x41"
                         "Q\xCA\xD6"),
              "abz@[\x81\x41"
              "q\xCA\xD6");
}

TEST(Parts, CountBytesAndClamp) {
    EXPECT_EQ(left_part("abc", 2), "ab");
    EXPECT_EQ(left_part("abc", 5), "abc");
    EXPECT_EQ(left_part("abc", 0), "");
    EXPECT_EQ(left_part("abc", -1), "");
    EXPECT_EQ(right_part("abc", 2), "bc");
    EXPECT_EQ(right_part("abc", 9), "abc");
    EXPECT_EQ(right_part("abc", -1), "");
    EXPECT_EQ(middle_part("abcdef", 2, 3), "bcd");
    EXPECT_EQ(middle_part("abcdef", 5, 10), "ef");
    EXPECT_EQ(middle_part("abcdef", 6, 1), "f");
    EXPECT_EQ(middle_part("abcdef", 7, 1), "");
    EXPECT_EQ(middle_part("abcdef", 0, 2), "");
    EXPECT_EQ(middle_part("abcdef", 2, 0), "");
    EXPECT_EQ(middle_part("\xCA\xD6", 2, 1), "\xD6");
}

TEST(Spaces, TrimmedAndRemovedByCharacters) {
    struct Case {
        std::string_view text, trimmed, without;
    };
    const Case cases[] = {
        {"\tabc ", "\tabc", "\tabc"},
        {"  \xA1\xA1x y\xA1\xA1 ", "x y", "xy"},
        {"   ", "", ""},
        // A1 A1 after a lead byte is a trail byte and a lone byte, not a space.
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"\xB0\xA1\xA1x", "\xB0\xA1\xA1x", "\xB0\xA1\xA1x"},
        {"\xA1\xA1\xA1", "\xA1", "\xA1"},
        {"a\r\n", "a\r\n", "a\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(trimmed(c.text), c.trimmed);
        EXPECT_EQ(without_spaces(c.text), c.without);
    }
}

TEST(SplitItems, KeepsInnerEmptyPiecesButNoTrailingOne) {
    struct Case {
        std::string_view text, separator;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"a;b;", ";", {"a", "b"}},
        {";a", ";", {"", "a"}},
        {"a;;b", ";", {"a", "", "b"}},
        {";", ";", {""}},
        {"", ";", {}},
        {"abc", "", {"abc"}},
        {"a; b; ", "; ", {"a", "b"}},
        // 0x3B is a trail byte here, not a separator.
        {"\x81;a;b", ";", {"\x81;a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(split_items(c.text, c.separator), c.items);
    }
}

TEST(ReplaceEvery, NeverOverlapsNorSearchesAReplacement) {
    struct Case {
        std::string_view text, sought, replacement;
        bool ignore_case;
        std::string_view expected;
    };
    const Case cases[] = {
        {"aaa", "aa", "b", false, "ba"},
        {"aa", "a", "aa", false, "aaaa"},
        {"aXbx", "x", "-", true, "a-b-"},
        {"aXbx", "x", "-", false, "aXb-"},
        {"\x81\x61"
         "a",
         trail_a, "-", true,
         "\x81\x61"
         "a"},
        {"abc", "", "z", false, "abc"},
        {"\x81\x41"
         "A",
         "A", "b", false,
         "\x81\x41"
         "b"},
        {"abc", "abc", "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(replace_every(c.text, c.sought, c.replacement, c.ignore_case), c.expected);
    }
}

TEST(ReplaceSpan, ClampsStartAndLength) {
    struct Case {
        std::string_view text;
        int start, length;
        std::string_view expected;
    };
    const Case cases[] = {
        {address, 12, 1, "http://x/s-61-60.html"},
        {"abc", 0, 1, "Xbc"},
        {"abc", 9, 1, "abcX"},
        {"abc", 4, 0, "abcX"},
        {"abc", 2, 9, "aX"},
        {"abc", 2, 0, "aXbc"},
        {"abc", 2, -3, "aXbc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " @" + std::to_string(c.start));
        const std::string_view replacement = c.text == address ? "61" : "X";
        EXPECT_EQ(replace_span(c.text, c.start, c.length, replacement), c.expected);
    }
}

TEST(ParseNumber, ReadsALeadingDecimalNumberAfterFoldingFullWidthForms) {
    struct Case {
        std::string_view text;
        double expected;
    };
    const Case cases[] = {
        {"300", 300},
        {"", 0},
        {"12ab", 12},
        {"\xA3\xB3\xA3\xB0\xA3\xB0", 300},                   // full-width 300
        {"\xA1\xA1\xA3\xAD\xA3\xB1\xA3\xAE\xA3\xB5", -1.5},  // full-width space, -1.5
        {"\xA3\xB2\xA3\xC5\xA3\xB2", 200},                   // full-width 2E2
        {" \t\n-1.5e2x", -150},
        {"+7", 7},
        {".5", 0.5},
        {"5.", 5},
        {"1e", 1},
        {"1e+", 1},
        {"-", 0},
        {".", 0},
        {"0x1A", 0},
        {"inf", 0},
        {"nan", 0},
        {"1,5", 1},
        {"1e-400", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_DOUBLE_EQ(parse_number(c.text), c.expected);
    }
    EXPECT_TRUE(std::isinf(parse_number("1e400")));
    EXPECT_LT(parse_number("-1e400"), 0);
}

TEST(FormatNumber, WholeNumbersAsDigitsDoublesAsThirteenSignificantDigits) {
    EXPECT_EQ(format_number(3), "3");
    EXPECT_EQ(format_number(-42), "-42");
    EXPECT_EQ(format_number(INT_MIN), "-2147483648");
    struct Case {
        double number;
        std::string_view expected;
    };
    const Case cases[] = {
        {125.0, "125"},
        {65.0, "65"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {1.0 / 3, "0.3333333333333"},
        {1234567890123456.0, "1.234567890123e+15"},
        {1e-5, "1e-05"},
        {0.0, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(format_number(c.number), c.expected);
    }
}

TEST(BytesText, StopsAtTheFirstZeroByte) {
    EXPECT_EQ(bytes_text("ab\0cd"sv), "ab");
    EXPECT_EQ(bytes_text("abc"), "abc");
    EXPECT_EQ(bytes_text("\0a"sv), "");
    EXPECT_EQ(space_text(3), "   ");
    EXPECT_EQ(space_text(0), "");
    EXPECT_EQ(space_text(-2), "");
}

}  // namespace
}  // namespace zerano
