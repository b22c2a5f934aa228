#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace std::string_view_literals;

namespace zerano {
namespace {

constexpr std::string_view shouji_gbk = "\xCA\xD6\xBB\xFA";
constexpr std::string_view shouji_utf8 = "\xE6\x89\x8B\xE6\x9C\xBA";

TEST(UrlEncode, KeywordTable) {
    struct Case {
        std::string_view keyword;
        bool keep_safe, as_utf8;
        std::string_view expected;
    };
    const Case cases[] = {
        {"abc", true, true, "abc"},
        {"a b", true, true, "a%20b"},
        {"a-b.c", true, true, "a-b.c"},
        {"a_b", true, true, "a%5Fb"},
        {"a/b", true, true, "a%2Fb"},
        {"x~y", true, true, "x%7Ey"},
        {"a+*Z09", true, true, "a%2B%2AZ09"},
        {shouji_gbk, true, true, "%E6%89%8B%E6%9C%BA"},
        {shouji_gbk, true, false, "%CA%D6%BB%FA"},
        {"a1", false, true, "%61%31"},
        {"a1", false, false, "%61%31"},
        {"\n", true, true, "%0A"},
        {"\n", true, false, "%0A"},
        {"", true, true, ""},
        {"", false, false, ""},
        // Longer in UTF-8 than twice the keyword and one: nothing is cut off.
        {"\x80\x80", true, true, "%E2%82%AC%E2%82%AC"},
        {"\xFF", true, true, "%EF%A3%B5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keyword));
        EXPECT_EQ(url_encode(c.keyword, c.keep_safe, c.as_utf8), c.expected);
    }
}

TEST(MultibyteToWide, ReadsTheGivenCodePage) {
    EXPECT_EQ(multibyte_to_wide(shouji_utf8), u"\u624B\u673A");
    EXPECT_EQ(multibyte_to_wide(shouji_gbk, CodePage::gbk), u"\u624B\u673A");
    EXPECT_EQ(multibyte_to_wide("\x80", CodePage::gbk), u"\u20AC");
    EXPECT_EQ(multibyte_to_wide("\x80", CodePage::utf8), u"\uFFFD");
}

TEST(WideToMultibyte, WritesTheGivenCodePageUpToAZeroUnit) {
    EXPECT_EQ(wide_to_multibyte(u"\u624B\u673A"), shouji_gbk);
    EXPECT_EQ(wide_to_multibyte(u"\u624B\u673A", CodePage::utf8), shouji_utf8);
    EXPECT_EQ(wide_to_multibyte(u"\u20AC\u0E01"), "\x80?");
    EXPECT_EQ(wide_to_multibyte(u"ab\0cd"sv), "ab");
}

TEST(Utf8ToAnsi, DecodesPages) {
    struct Case {
        std::string_view body;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", ""},
        {"<a href='12345'>x</a>", "<a href='12345'>x</a>"},
        {shouji_utf8, shouji_gbk},
        {"\xE2\x82\xAC", "\x80"},
        // Malformed UTF-8 next to ASCII: one "?" each, the ASCII byte kept.
        {"\xE6\x89"
         "A\xC0<\xF0\x9F\x98",
         "?A?<?"},
        // Outside code page 936, the rest of the page intact.
        {"a\xE0\xB8\x81"
         "b\xF0\x9F\x98\x80"
         "c",
         "a?b?c"},
        // A zero byte is dropped, never the end of the page; the same inside a fast run.
        {"<li>'123'</li>\0<li>'456'</li>"sv, "<li>'123'</li><li>'456'</li>"},
        {"0123456789abcdef0123456\0"
         "789abcdef"sv,
         "0123456789abcdef0123456789abcdef"},
        {"\0\0"sv, ""},
        {"0123456789abcdef\xE6\x89\x8B"
         "0123456789abcdef",
         "0123456789abcdef\xCA\xD6"
         "0123456789abcdef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.body));
        EXPECT_EQ(utf8_to_ansi(c.body), c.expected);
    }
}

}  // namespace
}  // namespace zerano
