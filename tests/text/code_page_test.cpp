#include "text/code_page.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

using namespace std::string_view_literals;

namespace zerano {
namespace {

TEST(GbkToUtf16, DecodesWindowsTable) {
    struct Case {
        std::string_view text;
        std::u16string_view expected;
    };
    const Case cases[] = {
        {"a\xCA\xD6\xBB\xFA"
         "b",
         u"a\u624B\u673Ab"},
        {"\x81\x40", u"\u4E02"},
        {"\xA1\xA1", u"\u3000"},
        {"\x80", u"\u20AC"},
        {"\xFF", u"\uF8F5"},
        {"\xAA\xA1", u"\uE000"},
        {"\xFE\xFE", u"\uE4C5"},
        {"\xA1\x40", u"\uE4C6"},
        {"\xA2\xA0", u"\uE585"},
        // A lead byte at the end, or before a byte that cannot trail, stands alone.
        {"a\xCA", u"a?"},
        {"\xCA<p>", u"?<p>"},
        {"\xCA\x7F", u"?\x7F"},
        // A pair in the trail range without a character is one default character.
        {"\xA2\xAB"
         "x",
         u"?x"},
        {"0123456789abcdef\xCA\xD6"
         "0123456789",
         u"0123456789abcdef\u624B0123456789"},
        {"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(gbk_to_utf16(c.text), c.expected);
    }
}

TEST(Utf16ToGbk, WritesDefaultCharacterForWhatIsMissing) {
    struct Case {
        std::u16string units;
        std::string_view expected;
    };
    const Case cases[] = {
        {u"a\u624B\u673A", "a\xCA\xD6\xBB\xFA"},
        {u"\u20AC", "\x80"},
        {u"\uF8F5", "\xFF"},
        {u"\uE000\uE585", "\xAA\xA1\xA2\xA0"},
        {u"\u0E01b", "?b"},
        {u"\U0001F600b", "?b"},
        {{char16_t(0xD800), u'a'}, "?a"},
        {{u'a', char16_t(0xDC00)}, "a?"},
        {u"\uFFFD", "?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(utf16_to_gbk(c.units), c.expected);
    }
}

TEST(Utf16ToGbk, EveryDecodedPairEncodesBack) {
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string units = gbk_to_utf16(pair);
            if (units.size() == 1 && units[0] != u'?') {
                ASSERT_EQ(utf16_to_gbk(units), pair) << std::hex << lead << ' ' << trail;
            }
        }
    }
}

TEST(Utf8ToUtf16, EachIllFormedSequenceIsOneReplacementAndKeepsTheNextByte) {
    struct Case {
        std::string_view bytes;
        std::u16string_view expected;
    };
    const Case cases[] = {
        {"\xE6\x89\x8B", u"\u624B"},
        {"\xE6\x89"
         "A",
         u"\uFFFD"
         "A"},
        {"a\xE6\x89", u"a\uFFFD"},
        {"\xF0\x9F\x98"
         "a",
         u"\uFFFD"
         "a"},
        {"\x80"
         "a",
         u"\uFFFD"
         "a"},
        {"\xFF\xFE", u"\uFFFD\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xEF\xBF\xBD", u"\uFFFD"},
        {"\xC3\xA9\x00z"sv, u"\u00E9\u0000z"sv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bytes));
        EXPECT_EQ(utf8_to_utf16(c.bytes), c.expected);
    }
}

TEST(Utf16ToUtf8, PairsJoinAndLoneSurrogatesBecomeReplacement) {
    struct Case {
        std::u16string units;
        std::string_view expected;
    };
    const Case cases[] = {
        {u"\u624B\u00E9z", "\xE6\x89\x8B\xC3\xA9z"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {{char16_t(0xD800), u'a'},
         "\xEF\xBF\xBD"
         "a"},
        {{u'a', char16_t(0xDC00)}, "a\xEF\xBF\xBD"},
        {{char16_t(0xDC00), char16_t(0xD800)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(utf16_to_utf8(c.units), c.expected);
    }
}

TEST(GbkToUtf8, ShowsCodePageTextAsUtf8) {
    EXPECT_EQ(gbk_to_utf8("\xCA\xD6\xBB\xFA"), "\xE6\x89\x8B\xE6\x9C\xBA");
    EXPECT_EQ(gbk_to_utf8("\x80"
                          "1"),
              "\xE2\x82\xAC"
              "1");
}

TEST(Utf8ToGbkExact, RefusesWhatCodePage936CannotHold) {
    struct Case {
        std::string_view utf8;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"\xE6\x89\x8B\xE6\x9C\xBA", "\xCA\xD6\xBB\xFA"},
        {"abc", "abc"},
        {"", ""},
        {"\xE2\x82\xAC", "\x80"},
        {"\xE0\xB8\x81", std::nullopt},
        {"\xF0\x9F\x98\x80", std::nullopt},
        {"\xE6\x89"
         "A",
         std::nullopt},
        {"\xEF\xBF\xBD", std::nullopt},
        {"a\0b"sv, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.utf8));
        EXPECT_EQ(utf8_to_gbk_exact(c.utf8), c.expected);
    }
}

}  // namespace
}  // namespace zerano
