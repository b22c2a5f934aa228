#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "web/cookie_text.h"
#include "web/url.h"

namespace zerano {
namespace {

// "#引号" in code page 936.
const std::string quote_word = "#\xD2\xFD\xBA\xC5";

TEST(UrlSplitting, CutsHostPortAndPath) {
    struct Case {
        std::string url;
        std::string host;
        std::string host_with_port;
        int port;
        std::string path;
    };
    const Case cases[] = {
        {"http://shop.example.com/list?p=2", "shop.example.com", "shop.example.com", 80,
         "/list?p=2"},
        {"HTTPS://Shop.Example.COM:81/a/B", "shop.example.com", "shop.example.com:81", 81, "/a/B"},
        {"https://shop.example.com", "shop.example.com", "shop.example.com", 443, "/"},
        {"shop.example.com/a", "shop.example.com", "shop.example.com", 80, "/a"},
        {"http://shop.example.com:/a", "shop.example.com", "shop.example.com:", 0, "/a"},
        {"http://shop.example.com:8080/", "shop.example.com", "shop.example.com:8080", 8080, "/"},
        {"http://Shop.example.com?Q=1", "shop.example.com?q=1", "shop.example.com?q=1", 80, "/"},
        {"http://h: 81x/", "h", "h: 81x", 81, "/"},
        {"http://h:-5/", "h", "h:-5", -5, "/"},
        {"http://h:99999999999/", "h", "h:99999999999", std::numeric_limits<int>::max(), "/"},
        // The first "http://" counts, wherever it stands.
        {"a.example/?u=http://b.example/x", "b.example", "b.example", 80, "/x"},
        // A schemeless host that begins with "https" passes the five-byte test.
        {"https.example/a", "https.example", "https.example", 443, "/a"},
        // Hosts that also occur inside the scheme: the path is not taken from the scheme.
        {"http://h/a", "h", "h", 80, "/a"},
        {"https://tp:8443/x?y", "tp", "tp:8443", 8443, "/x?y"},
        {"HTTP://S/Q", "s", "s", 80, "/Q"},
        // Only A-Z fold; the trail byte 0x41 of a double-byte character stays.
        {"http://\xB0\x41Z.com/P", "\xB0\x41z.com", "\xB0\x41z.com", 80, "/P"},
        {"", "", "", 80, "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(url_host(c.url), c.host);
        EXPECT_EQ(url_host(c.url, true), c.host_with_port);
        EXPECT_EQ(url_port(c.url), c.port);
        EXPECT_EQ(url_path(c.url), c.path);
    }
}

TEST(TextBetween, TakesTheFirstSpanAfterTheStart) {
    struct Case {
        std::string text;
        std::string start_marker;
        std::string end_marker;
        int start;
        bool ignore_case;
        std::string expected;
    };
    const Case cases[] = {
        {"Host: a\r\nUser-Agent: X\r\n", "User-Agent:", "\r\n", 1, false, " X"},
        {"Host: a\r\n", "User-Agent:", "\r\n", 1, false, ""},
        {"User-Agent: X", "User-Agent:", "\r\n", 1, false, ""},
        {"ab", "a", "b", 1, false, ""},
        {"<a id=\"x7\">", "id=" + quote_word, quote_word, 1, false, "x7"},
        {"a=1;a=2;", "a=", ";", 4, false, "2"},
        {"a=1;a=2;", "a=", ";", 0, false, "1"},
        {"SET-COOKIE: k=v;", "set-cookie:", ";", 1, true, " k=v"},
        {"SET-COOKIE: k=v;", "set-cookie:", ";", 1, false, ""},
        // The "A" inside the double-byte character B0 41 is no marker.
        {"\xB0\x41=1;A=2;", "A=", ";", 1, false, "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " | " + c.start_marker);
        EXPECT_EQ(text_between(c.text, c.start_marker, c.end_marker, c.start, c.ignore_case),
                  c.expected);
    }
}

TEST(TextAfterColon, TrimsWhatFollowsTheFirstColon) {
    const std::pair<std::string, std::string> cases[] = {
        {"User-Agent: X", "X"},
        {"no colon", ""},
        {"a: b: c ", "b: c"},
        {":\xA1\xA1x\t\xA1\xA1", "x\t"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(text_after_colon(text), expected) << text;
    }
}

TEST(CookieItems, NamesAndLookups) {
    const std::pair<std::string, std::string> names[] = {
        {" sid = 5", "sid"}, {"flag", "flag"}, {"=5", ""}, {"a=b=c", "a"}};
    for (const auto& [item, name] : names) {
        EXPECT_EQ(cookie_name(item), name) << item;
    }

    const std::vector<std::string> jar = {"a=1", " b =2", "a=3", ""};
    EXPECT_TRUE(has_cookie_named(jar, "b"));
    EXPECT_TRUE(has_cookie_named(jar, ""));
    EXPECT_FALSE(has_cookie_named(jar, "A"));
    EXPECT_FALSE(has_cookie_named({}, ""));

    EXPECT_EQ(find_item(jar, "a=3"), 3);
    EXPECT_EQ(find_item(jar, "a=1"), 1);
    EXPECT_EQ(find_item(jar, "b=2"), -1);
    EXPECT_EQ(find_item({}, ""), -1);
}

TEST(RemoveDuplicateItems, KeepsFirstOccurrences) {
    struct Case {
        std::string text;
        std::string separator;
        std::string expected;
    };
    const Case cases[] = {
        {"a; b; a; c; b", "; ", "a; b; c"},
        {"a=1; A=1", "; ", "a=1; A=1"},
        {"x;;x;", ";", "x;"},
        {"", ";", ""},
        {"a;a", "", "a;a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(remove_duplicate_items(c.text, c.separator), c.expected) << c.text;
    }
}

TEST(MergeCookies, ReceivedCookiesReplaceOldOnes) {
    struct Case {
        std::string cookies;
        std::string received;
        std::string cookies_after;
        std::string received_after;
    };
    const Case cases[] = {
        {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
        {"a=1", "a=deleted", "", "a=deleted"},
        {"a=1; a=2", "", "a=1", ""},
        {"", "a=1; a=2", "a=1; a=2", "a=1;a=2"},
        {"", "a=1; a=1", "a=1", "a=1;a=1"},
        {"A=1", "a=2", "a=2; A=1", "a=2"},
        {"x=hello world", "", "x=helloworld", ""},
        {"flag", "flag=1", "flag=1", "flag=1"},
        {"a=1;;b=2", "", "a=1; ; b=2", ""},
        {"", "", "", ""},
        {"s=\xA1\xA1v", "", "s=v", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cookies + " + " + c.received);
        std::string cookies = c.cookies;
        std::string received = c.received;
        const std::string copy = merge_cookies(cookies, received);
        EXPECT_EQ(cookies, c.cookies_after);
        EXPECT_EQ(received, c.received_after);
        EXPECT_EQ(copy, cookies);
    }
}

}  // namespace
}  // namespace zerano
