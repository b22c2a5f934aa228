#include "tools/marketplace.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zerano {
namespace {

const std::string tail =
    "&sClassid=0&Platform=1&charSet=gbk&sf=102&ac=0&as=1&Property=128&PTAG=20084.2.2";

// The job's three patterns, as its matcher runs them.
const std::regex canonical_pattern("<link rel=\"canonical\" href=\"([\\s\\S]*?)\"/>");
const std::regex pagination_pattern("\" pos=\"([1-9]*)\">");
const std::regex token_pattern("'[1-9][0-9]{4,}'", std::regex::icase);

// The job's keyword encoding: - . 0-9 A-Z a-z literal, every other byte %XX.
std::string encode(const std::string& keyword) {
    std::string out;
    for (unsigned char c : keyword) {
        if (std::isalnum(c) || c == '-' || c == '.') {
            out += static_cast<char>(c);
        } else {
            static constexpr char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string search_target(const std::string& keyword) {
    return "/comm_search?KeyWord=" + encode(keyword) + tail;
}

std::vector<std::string> tokens(const std::string& page) {
    std::vector<std::string> out;
    for (std::sregex_iterator it(page.begin(), page.end(), token_pattern), end; it != end; ++it) {
        out.push_back(it->str());
    }
    return out;
}

std::string canonical(const std::string& page) {
    std::smatch match;
    return std::regex_search(page, match, canonical_pattern) ? match[1].str() : std::string();
}

std::string last_pagination(const std::string& page) {
    std::string last;
    for (std::sregex_iterator it(page.begin(), page.end(), pagination_pattern), end; it != end;
         ++it) {
        last = (*it)[1].str();
    }
    return last;
}

// The path of a canonical address on the marketplace, with the page marker set to `start`.
std::string page_path(const std::string& address, const std::string& host, int start) {
    std::string path = address.substr(("http://" + host).size());
    return path.replace(path.find("1-60"), 1, std::to_string(start));
}

class MarketplaceTest : public ::testing::Test {
  protected:
    MarketplaceTest() : client_(market_.host()) {
        client_.set_url_encode(false);
        client_.set_keep_alive(true);
        client_.set_read_timeout(3);
    }

    httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) {
        return client_.Get(target, headers);
    }

    std::string body(const std::string& target, const httplib::Headers& headers = {}) {
        auto result = get(target, headers);
        EXPECT_TRUE(result) << target;
        if (!result) {
            return {};
        }
        EXPECT_EQ(result->status, 200) << target;
        return result->body;
    }

    std::string canonical_of(const std::string& keyword) {
        return canonical(body(search_target(keyword)));
    }

    Marketplace market_;
    httplib::Client client_;
};

TEST_F(MarketplaceTest, DemoCaseWalksToTheDocumentedRanks) {
    const std::string address = canonical_of(demo_keyword);
    ASSERT_FALSE(address.empty());
    EXPECT_TRUE(address.starts_with("http://" + market_.host() + "/list/"));
    EXPECT_TRUE(address.ends_with("/1-60.html"));

    const std::string first = body(page_path(address, market_.host(), 1));
    ASSERT_EQ(last_pagination(first), "5");

    std::vector<int> ranks;
    std::set<std::string> shops;
    for (int page = 1; page <= 6; ++page) {
        const auto found = tokens(body(page_path(address, market_.host(), 60 * (page - 1) + 1)));
        EXPECT_EQ(found.size(), page <= 5 ? 60u : 0u) << "page " << page;
        for (std::size_t j = 0; j < found.size(); ++j) {
            shops.insert(found[j]);
            if (found[j] == "'" + std::string(demo_shop) + "'") {
                ranks.push_back(60 * (page - 1) + static_cast<int>(j) + 1);
            }
        }
    }
    EXPECT_EQ(ranks, (std::vector<int>{7, 135, 162}));
    EXPECT_GT(shops.size(), 200u) << "shop numbers should vary";
}

TEST_F(MarketplaceTest, OnlyTheExactQueryGetsACanonicalLink) {
    const std::string kw = "/comm_search?KeyWord=" + encode(demo_keyword);
    const struct {
        std::string target;
        bool linked;
    } cases[] = {
        {kw + tail, true},
        {kw, false},
        {kw + tail + "&x=1", false},
        {kw + "&Platform=1&sClassid=0&charSet=gbk&sf=102&ac=0&as=1&Property=128&PTAG=20084.2.2",
         false},
        {kw + "&x=1" + tail, false},
        {"/comm_search?keyword=" + encode(demo_keyword) + tail, false},
        {"/comm_search?KeyWord=%E6%89%8" + tail, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(!canonical(body(c.target)).empty(), c.linked) << c.target;
    }
}

TEST_F(MarketplaceTest, KeywordIsDecodedFromTheRawTarget) {
    // Lower-case escapes name the same keyword; a raw '+' is not a space.
    EXPECT_EQ(canonical_of("a b"), canonical(body("/comm_search?KeyWord=a%20b" + tail)));
    EXPECT_EQ(canonical(body("/comm_search?KeyWord=%e6%89%8b%e6%9c%ba" + tail)),
              canonical_of(demo_keyword));
    EXPECT_NE(canonical(body("/comm_search?KeyWord=a+b" + tail)), canonical_of("a b"));
    EXPECT_NE(canonical_of("a b"), canonical_of("a  b"));
}

TEST_F(MarketplaceTest, KeywordEchoNeverAddsTokensOrLinks) {
    const std::string keyword = "'123456' \"/> ' pos=\"7\">";
    const std::string search = body(search_target(keyword));
    EXPECT_TRUE(tokens(search).empty());
    const std::string address = canonical(search);
    ASSERT_TRUE(address.ends_with("/1-60.html")) << address;
    const auto pages = catalogue_scenario(keyword).pages;
    const std::string first = body(page_path(address, market_.host(), 1));
    EXPECT_EQ(tokens(first).size(), pages[0].size());
    EXPECT_EQ(last_pagination(first), std::to_string(pages.size()));
}

TEST_F(MarketplaceTest, RequestsAreRecordedRawAndInOrder) {
    const std::string search = search_target(demo_keyword);
    const std::string address = canonical_of(demo_keyword);
    get(page_path(address, market_.host(), 61));
    get("/nowhere?x=%20");
    EXPECT_EQ(market_.requests(),
              (std::vector<std::string>{search, page_path(address, market_.host(), 61),
                                        "/nowhere?x=%20"}));
}

TEST_F(MarketplaceTest, CanonicalLinkModes) {
    const struct {
        CanonicalLink mode;
        bool matches;
    } cases[] = {
        {CanonicalLink::normal, true},
        {CanonicalLink::missing, false},
        {CanonicalLink::spaced_close, false},
        {CanonicalLink::no_marker, true},
    };
    for (const auto& c : cases) {
        const std::string keyword = "mode" + std::to_string(static_cast<int>(c.mode));
        Scenario scenario;
        scenario.pages = {{"11111", "22222"}};
        scenario.canonical = c.mode;
        market_.add_scenario(keyword, scenario);
        const std::string page = body(search_target(keyword));
        const std::string address = canonical(page);
        EXPECT_EQ(!address.empty(), c.matches) << keyword;
        if (c.mode == CanonicalLink::spaced_close) {
            EXPECT_NE(page.find("/1-60.html\" />"), std::string::npos);
        }
        if (address.empty()) {
            continue;
        }
        std::string lower = address;
        for (auto& ch : lower) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(lower.find("1-60") != std::string::npos, c.mode == CanonicalLink::normal);
        const std::string first = body(address.substr(("http://" + market_.host()).size()));
        EXPECT_EQ(tokens(first), (std::vector<std::string>{"'11111'", "'22222'"}));
    }
}

TEST_F(MarketplaceTest, PaginationValuesAsConfigured) {
    const struct {
        std::vector<std::string> values;
        bool shown;
        std::size_t pages;
        std::string last;
    } cases[] = {
        {{}, true, 3, "3"},
        {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, true, 1, "9"},
        {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}, true, 1, "12"},
        {{}, false, 3, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string keyword = "pg" + std::to_string(n++);
        Scenario scenario;
        scenario.pages.assign(c.pages, {"12345"});
        scenario.pagination = c.values;
        scenario.show_pagination = c.shown;
        market_.add_scenario(keyword, scenario);
        const std::string address = canonical_of(keyword);
        EXPECT_EQ(last_pagination(body(page_path(address, market_.host(), 1))), c.last) << keyword;
        EXPECT_EQ(last_pagination(body(page_path(address, market_.host(), 61))), "");
    }
}

TEST_F(MarketplaceTest, ShortPagesAndPagesBeyondTheLast) {
    Scenario scenario;
    scenario.pages = {{"12345", "2024", "0123456", "67890"}, {"555555"}};
    market_.add_scenario("short", scenario);
    const std::string address = canonical_of("short");
    EXPECT_EQ(tokens(body(page_path(address, market_.host(), 1))),
              (std::vector<std::string>{"'12345'", "'67890'"}));
    EXPECT_EQ(tokens(body(page_path(address, market_.host(), 61))),
              (std::vector<std::string>{"'555555'"}));
    EXPECT_TRUE(tokens(body(page_path(address, market_.host(), 121))).empty());
    EXPECT_TRUE(tokens(body(page_path(address, market_.host(), 60 * 9999 + 1))).empty());
}

TEST_F(MarketplaceTest, PathsTheJobNeverBuildsAre404) {
    const std::string address = canonical_of(demo_keyword);
    const std::string first = page_path(address, market_.host(), 1);
    const std::string dir = first.substr(0, first.rfind('/') + 1);
    const std::string targets[] = {
        "/",
        "/comm_search/x",
        dir + "2-60.html",
        dir + "061-60.html",
        dir + "1-50.html",
        dir + "first-60.html",
        "/list/0123456789abcdef/1-60.html",
        "/real" + first.substr(5),
    };
    for (const auto& target : targets) {
        const auto result = get(target);
        ASSERT_TRUE(result) << target;
        EXPECT_EQ(result->status, 404) << target;
    }
}

TEST_F(MarketplaceTest, StatusFaultsByRequestNumber) {
    for (const Fault fault : {Fault::http403, Fault::http500}) {
        for (const int number : {0, 1, 2}) {
            const std::string keyword =
                "f" + std::to_string(static_cast<int>(fault)) + "-" + std::to_string(number);
            Scenario scenario;
            scenario.pages = {{"11111"}, {"22222"}};
            scenario.faults[number] = fault;
            market_.add_scenario(keyword, scenario);
            const int status = fault == Fault::http403 ? 403 : 500;
            const auto search = get(search_target(keyword));
            ASSERT_TRUE(search);
            EXPECT_EQ(search->status, number == 0 ? status : 200) << keyword;
            if (number == 0) {
                EXPECT_TRUE(canonical(search->body).empty());
                continue;
            }
            const std::string address = canonical(search->body);
            for (int page = 1; page <= 2; ++page) {
                const auto result = get(page_path(address, market_.host(), 60 * (page - 1) + 1));
                ASSERT_TRUE(result);
                EXPECT_EQ(result->status, page == number ? status : 200) << keyword;
                EXPECT_EQ(tokens(result->body).size(), page == number ? 0u : 1u) << keyword;
            }
        }
    }
}

TEST_F(MarketplaceTest, ResetIsATransportFailure) {
    Scenario scenario;
    scenario.pages = {{"11111"}, {"22222"}};
    scenario.faults = {{0, Fault::reset}};
    market_.add_scenario("reset0", scenario);
    scenario.faults = {{2, Fault::reset}};
    market_.add_scenario("reset2", scenario);

    EXPECT_FALSE(get(search_target("reset0")));
    const std::string address = canonical_of("reset2");
    EXPECT_EQ(tokens(body(page_path(address, market_.host(), 1))).size(), 1u);
    const auto broken = get(page_path(address, market_.host(), 61));
    EXPECT_FALSE(broken);
    EXPECT_EQ(broken.error(), httplib::Error::Read);
    // The connection is gone, not the server.
    EXPECT_EQ(tokens(body(page_path(address, market_.host(), 1))).size(), 1u);
}

TEST_F(MarketplaceTest, KeepAliveReusesOneConnection) {
    const std::string address = canonical_of(demo_keyword);
    const auto local_port = [this] {
        sockaddr_in local{};
        socklen_t size = sizeof local;
        getsockname(client_.socket(), reinterpret_cast<sockaddr*>(&local), &size);
        return ntohs(local.sin_port);
    };
    const auto port = local_port();
    for (int page = 1; page <= 8; ++page) {
        body(page_path(address, market_.host(), 60 * (page - 1) + 1));
        ASSERT_TRUE(client_.is_socket_open()) << "page " << page;
        EXPECT_EQ(local_port(), port) << "page " << page;
    }
}

TEST_F(MarketplaceTest, CookieGuardsTheListings) {
    Scenario scenario;
    scenario.pages = {{"11111", "22222"}, {"33333"}};
    scenario.needs_cookie = true;
    market_.add_scenario("cookie", scenario);
    const auto search = get(search_target("cookie"));
    ASSERT_TRUE(search);
    const std::string set_cookie = search->get_header_value("Set-Cookie");
    const std::regex cookie_form("zsid=([^;]+); path=/");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(set_cookie, match, cookie_form)) << set_cookie;
    const std::string cookie = "zsid=" + match[1].str();
    const std::string address = canonical(search->body);

    const struct {
        std::string header;
        bool shown;
    } cases[] = {
        {"", false},           {cookie, true},        {"a=1; " + cookie + "; b=2", true},
        {"zsid=wrong", false}, {cookie + "x", false},
    };
    for (const auto& c : cases) {
        httplib::Headers headers;
        if (!c.header.empty()) {
            headers.emplace("Cookie", c.header);
        }
        EXPECT_EQ(tokens(body(page_path(address, market_.host(), 1), headers)).size(),
                  c.shown ? 2u : 0u)
            << c.header;
        EXPECT_EQ(tokens(body(page_path(address, market_.host(), 61), headers)).size(),
                  c.shown ? 1u : 0u)
            << c.header;
    }
}

TEST_F(MarketplaceTest, RedirectLeadsToEveryPage) {
    Scenario scenario;
    scenario.pages = {{"11111"}, {"22222"}};
    scenario.redirect = true;
    market_.add_scenario("moved", scenario);
    const std::string address = canonical_of("moved");
    for (int page = 1; page <= 2; ++page) {
        const std::string path = page_path(address, market_.host(), 60 * (page - 1) + 1);
        const auto moved = get(path);
        ASSERT_TRUE(moved);
        EXPECT_EQ(moved->status, 302);
        std::string real = path;
        real.replace(0, 5, "/real");
        EXPECT_EQ(moved->get_header_value("Location"), "http://" + market_.host() + real);
        EXPECT_EQ(tokens(body(real)).size(), 1u);
    }
    client_.set_follow_location(true);
    EXPECT_EQ(tokens(body(page_path(address, market_.host(), 61))),
              (std::vector<std::string>{"'22222'"}));
}

TEST(MarketplaceStop, NeitherStallsNorIdleConnectionsHoldItUp) {
    auto market = std::make_unique<Marketplace>();
    Scenario scenario;
    scenario.pages = {{"11111"}};
    scenario.faults = {{0, Fault::stall}};
    market->add_scenario("slow", scenario);

    httplib::Client idle(market->host());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/"));
    ASSERT_TRUE(idle.is_socket_open());

    httplib::Client patient(market->host());
    patient.set_url_encode(false);
    patient.set_read_timeout(30);
    std::thread waiting([&patient] { patient.Get(search_target("slow")); });

    httplib::Client hasty(market->host());
    hasty.set_url_encode(false);
    hasty.set_read_timeout(1);
    EXPECT_FALSE(hasty.Get(search_target("slow"))) << "a stalled page answered at once";

    const auto start = std::chrono::steady_clock::now();
    market.reset();
    // Well under both the stall and the keep-alive time-out: the stop cut them short.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    waiting.join();
}

TEST(Catalogue, DeterministicAndWithinItsRanges) {
    std::set<std::size_t> page_totals;
    const std::regex shop_form("[1-9][0-9]{5,9}");
    for (int i = 0; i < 40; ++i) {
        const std::string keyword = "关键词" + std::to_string(i);
        const Scenario scenario = catalogue_scenario(keyword);
        EXPECT_EQ(catalogue_scenario(keyword).pages, scenario.pages);
        ASSERT_GE(scenario.pages.size(), 1u);
        ASSERT_LE(scenario.pages.size(), 8u);
        page_totals.insert(scenario.pages.size());
        for (const auto& page : scenario.pages) {
            ASSERT_EQ(page.size(), 60u);
            for (const auto& shop : page) {
                ASSERT_TRUE(std::regex_match(shop, shop_form)) << shop;
                ASSERT_NE(shop, demo_shop);
            }
        }
    }
    EXPECT_GT(page_totals.size(), 3u);
}

}  // namespace
}  // namespace zerano
