#include "search/rank_search.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "recording_window.h"
#include "tools/marketplace.h"

namespace zerano {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingWindow;

const std::string shop = "55555";
const std::string running = "开始运行...\r\n";
const std::string finished = "搜索完毕！以上就是关键字链接排名。\r\n";
const std::string wrong_rank = "如搜索排名有误，请回帖楼主修正。\r\n";
const std::string credits = "本排名程式，Kolvex免费出品。虽然木有技术含量！\r\n";
const std::string no_token = "搜索排名完毕！代码：001\r\n";
const std::string no_canonical = "转向错误，请联系作者修正！\r\n";

std::string rank(int n) {
    return "发现排名：" + std::to_string(n) + "名，继续...\r\n";
}
std::string network_error(const std::string& why) {
    return "网络错误：" + why + "，搜索中止！\r\n";
}

// First-listing numbers of the result pages requested from request `since` on ("1", "61", ...).
std::vector<std::string> result_pages(const Marketplace& market, std::size_t since = 0) {
    std::vector<std::string> starts;
    const std::vector<std::string> requests = market.requests();
    for (std::size_t i = since; i < requests.size(); ++i) {
        const auto end = requests[i].rfind("-60.html");
        if (end != std::string::npos && requests[i].starts_with("/list/")) {
            const auto slash = requests[i].rfind('/', end);
            starts.push_back(requests[i].substr(slash + 1, end - slash - 1));
        }
    }
    return starts;
}

class RankSearchTest : public ::testing::Test {
  protected:
    SearchReport search(RecordingWindow& window, std::stop_token stop = {}) {
        return RankSearch(window, shared_, market_.host(), stop);
    }
    // Registers `scenario` under a fresh keyword and searches it for the shop.
    std::string add(const Scenario& scenario) {
        std::string keyword = "词" + std::to_string(++keywords_);
        market_.add_scenario(keyword, scenario);
        return keyword;
    }
    SearchReport search(const Scenario& scenario) {
        RecordingWindow window(add(scenario), shop);
        SearchReport report = search(window);
        lines_ = window.lines();
        return report;
    }

    Marketplace market_;
    SharedSearch shared_;
    std::vector<std::string> lines_;
    int keywords_ = 0;
};

struct WalkCase {
    const char* name;
    Scenario scenario;
    std::vector<std::string> lines;  // after "开始运行..."
    std::vector<std::string> pages;  // result pages requested
};

TEST_F(RankSearchTest, LogsRanksAsThePagesAreWalked) {
    const std::vector<WalkCase> cases = {
        {"ranks count on across pages, every token of a page counting",
         {.pages = {{"11111", shop, "22222"},
                    {"33333"},
                    {"44444", "12345", "23456", "34567", shop}}},
         {rank(2), rank(125), finished, wrong_rank, credits},
         {"1", "61", "121", "181"}},
        {"each occurrence of the shop on a page is a rank",
         {.pages = {{shop, "11111", shop}}},
         {rank(1), rank(3), finished, wrong_rank, credits},
         {"1", "61"}},
        {"a page without any token ends the walk early",
         {.pages = {{shop}, {}, {shop}}},
         {rank(1), no_token, finished, wrong_rank, credits},
         {"1", "61"}},
        {"a pagination value holding a 0 does not count",
         {.pages = {{"11111"}, {"11111"}, {shop}}, .pagination = {"1", "2", "10"}},
         {finished, wrong_rank, credits},
         {"1", "61", "121"}},
        {"short numbers, leading zeros and double quotes are not tokens",
         {.pages = {{"1234", "0123456", shop}}},
         {rank(1), finished, wrong_rank, credits},
         {"1", "61"}},
        {"the cookie that the search page set reaches every result page",
         {.pages = {{"11111"}, {shop}}, .needs_cookie = true},
         {rank(61), finished, wrong_rank, credits},
         {"1", "61", "121"}},
        {"redirected result pages are followed",
         {.pages = {{"11111"}, {shop}}, .redirect = true},
         {rank(61), finished, wrong_rank, credits},
         {"1", "61", "121"}},
        {"without a page marker the walk ends after page 1",
         {.pages = {{shop}, {shop}}, .canonical = CanonicalLink::no_marker},
         {rank(1), finished, wrong_rank, credits},
         {}},
        {"a failed page is reported when its turn comes",
         {.pages = {{shop}, {shop}, {shop}}, .faults = {{2, Fault::http500}}},
         {rank(1), network_error("HTTP 500")},
         {"1", "61"}},
        {"the failure of the page fetched in the last pass goes unnoticed",
         {.pages = {{shop}}, .faults = {{2, Fault::http403}}},
         {rank(1), finished, wrong_rank, credits},
         {"1", "61"}},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = market_.requests().size();
        search(c.scenario);
        std::vector<std::string> expected = {running};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_THAT(lines_, ElementsAreArray(expected));

        if (c.scenario.canonical == CanonicalLink::no_marker) {
            EXPECT_EQ(market_.requests().size() - before, 2u) << "search and canonical page only";
        } else {
            EXPECT_THAT(result_pages(market_, before), ElementsAreArray(c.pages));
        }
    }
}

TEST_F(RankSearchTest, ReportsWhatItFound) {
    const SearchReport walk = search({.pages = {{shop}, {"11111"}, {"11111", shop}}});
    EXPECT_EQ(walk.outcome, SearchOutcome::finished);
    EXPECT_THAT(walk.ranks, ElementsAre(1, 122));
    EXPECT_EQ(walk.pages_scanned, 3);

    const SearchReport failed = search({.pages = {{shop}}, .faults = {{0, Fault::http403}}});
    EXPECT_EQ(failed.outcome, SearchOutcome::network_error);
    EXPECT_EQ(failed.error, "HTTP 403");
    EXPECT_THAT(lines_, ElementsAre(running, network_error("HTTP 403")));
}

TEST_F(RankSearchTest, SearchPageAndCanonicalPageFailures) {
    struct Case {
        const char* name;
        Scenario scenario;
        std::vector<std::string> lines;
        SearchOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"no canonical link",
         {.pages = {{shop}}, .canonical = CanonicalLink::missing},
         {running, no_canonical},
         SearchOutcome::no_canonical},
        {"a link closed with a space before the slash",
         {.pages = {{shop}}, .canonical = CanonicalLink::spaced_close},
         {running, no_canonical},
         SearchOutcome::no_canonical},
        {"the canonical page answers 500",
         {.pages = {{shop}}, .faults = {{1, Fault::http500}}},
         {running, network_error("HTTP 500")},
         SearchOutcome::network_error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(search(c.scenario).outcome, c.outcome);
        EXPECT_THAT(lines_, ElementsAreArray(c.lines));
    }

    const SearchReport reset = search({.pages = {{shop}}, .faults = {{1, Fault::reset}}});
    EXPECT_EQ(reset.outcome, SearchOutcome::network_error);
    EXPECT_FALSE(reset.error.empty());
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[1], network_error(reset.error));
}

TEST_F(RankSearchTest, SinglePageWithoutPageCount) {
    const SearchReport report =
        search({.pages = {{"11111", "22222", shop}}, .show_pagination = false});
    EXPECT_EQ(report.outcome, SearchOutcome::finished);
    EXPECT_THAT(lines_, ElementsAre(running, rank(3), finished));
}

TEST_F(RankSearchTest, PageCountOfAnEarlierSearchIsNotReused) {
    search({.pages = {{"11111"}, {"11111"}, {"11111"}}});
    RecordingWindow window(add({.pages = {{shop}, {shop}}, .show_pagination = false}), shop);
    search(window);
    EXPECT_THAT(window.lines(), ElementsAre(running, rank(1), finished));
    EXPECT_TRUE(window.progress().empty());
}

TEST_F(RankSearchTest, RequestsPausesAndProgressOfAWalk) {
    RecordingWindow window(add({.pages = {{shop}, {"11111"}, {"11111"}}}), shop, " 7.9ms");
    const auto before = market_.requests().size();
    search(window);
    const std::vector<std::string> requests = market_.requests();
    ASSERT_GT(requests.size(), before);
    EXPECT_TRUE(requests[before].starts_with("/comm_search?KeyWord=%E8%AF%8D"));
    EXPECT_TRUE(requests[before].ends_with(
        "&sClassid=0&Platform=1&charSet=gbk&sf=102&ac=0&as=1&Property=128&PTAG=20084.2.2"));
    EXPECT_THAT(window.pauses(), ElementsAre(200, 100, 200, 7, 7, 7));
    EXPECT_THAT(window.progress(), ElementsAre("max 3", "min 1", "pos 1", "pos 2", "pos 3"));
    EXPECT_EQ(window.log_resets(), 1);
}

TEST_F(RankSearchTest, KeywordIsSentAsPercentEncodedUtf8) {
    market_.add_scenario("手机 壳", {.pages = {{shop}}});
    RecordingWindow window("手机 壳", shop);
    const auto before = market_.requests().size();
    search(window);
    EXPECT_TRUE(market_.requests().at(before).starts_with(
        "/comm_search?KeyWord=%E6%89%8B%E6%9C%BA%20%E5%A3%B3&sClassid=0&"));
    EXPECT_THAT(window.lines(), ElementsAre(running, rank(1), finished, wrong_rank, credits));
}

TEST_F(RankSearchTest, EmptyBoxBringsTheMessageAndNoRequest) {
    for (const auto& [keyword, qq] : {std::pair{"", shop}, std::pair{"手机", std::string()}}) {
        RecordingWindow window(keyword, qq);
        const auto before = market_.requests().size();
        EXPECT_EQ(search(window).outcome, SearchOutcome::missing_input);
        EXPECT_THAT(window.messages(), ElementsAre("信息： 请先输入在查询"));
        EXPECT_EQ(window.log_resets(), 0);
        EXPECT_EQ(market_.requests().size(), before);
    }
    RecordingWindow spaces("  ", shop);
    market_.add_scenario("  ", {.pages = {{shop}}});
    search(spaces);
    EXPECT_TRUE(spaces.messages().empty());
    EXPECT_EQ(spaces.lines().front(), running);
}

// Runs a search on a thread of its own and stops it once `ready` holds.
template <typename Ready>
void stop_when(RecordingWindow& window, SharedSearch& shared, const Marketplace& market,
               Ready ready, SearchReport& report, std::chrono::milliseconds& stop_to_return) {
    std::stop_source stop;
    std::jthread job([&] { report = RankSearch(window, shared, market.host(), stop.get_token()); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(ready());
    const auto lines_at_stop = window.lines();
    const auto asked = std::chrono::steady_clock::now();
    stop.request_stop();
    job.join();
    stop_to_return = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - asked);
    EXPECT_EQ(window.lines(), lines_at_stop) << "no line after stop";
}

TEST_F(RankSearchTest, StopInARequestEndsTheSearchAtOnce) {
    RecordingWindow window(add({.pages = {{shop}, {shop}}, .faults = {{2, Fault::stall}}}), shop);
    SearchReport report;
    std::chrono::milliseconds took{};
    stop_when(
        window, shared_, market_, [&] { return result_pages(market_).size() >= 2; }, report, took);
    EXPECT_EQ(report.outcome, SearchOutcome::stopped);
    EXPECT_THAT(window.lines(), ElementsAre(running, rank(1)));
    EXPECT_LT(took.count(), 1000);
}

TEST_F(RankSearchTest, StopInAPauseEndsTheSearchAtOnce) {
    RecordingWindow window(add({.pages = {{shop}, {shop}}}), shop, "30000");
    window.real_waits = true;
    SearchReport report;
    std::chrono::milliseconds took{};
    stop_when(
        window, shared_, market_, [&] { return window.pauses().size() >= 4; }, report, took);
    EXPECT_EQ(report.outcome, SearchOutcome::stopped);
    EXPECT_THAT(window.pauses(), ElementsAre(200, 100, 200, 30000));
    EXPECT_EQ(result_pages(market_).size(), 2u) << "no request after stop";
    EXPECT_LT(took.count(), 1000);
}

}  // namespace
}  // namespace zerano
