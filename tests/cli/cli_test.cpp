#include "cli/cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "tools/marketplace.h"

extern char** environ;

namespace zerano {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string shop = "55555";

struct Result {
    int status;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    CliTest() {
        market_.add_scenario("两页", {.pages = {{shop}, {"11111", "22222", shop}}});
        market_.add_scenario("无链接", {.pages = {{shop}}, .canonical = CanonicalLink::missing});
        market_.add_scenario("禁止", {.pages = {{shop}}, .faults = {{0, Fault::http403}}});
        market_.add_scenario("大号", {.pages = {{"9876543210"}}});
        market_.add_scenario("卡住", {.pages = {{shop}, {shop}}, .faults = {{2, Fault::stall}}});
    }

    // Runs the command line in process against the simulator, without pauses between pages.
    Result cli(std::vector<std::string> args, std::stop_token stop = {}) {
        args.insert(args.begin(), {"--host", market_.host(), "--interval", "0"});
        std::ostringstream out;
        std::ostringstream err;
        const int status = run(args, out, err, stop);
        return {status, out.str(), err.str()};
    }

    Marketplace market_;
};

TEST_F(CliTest, LogFormatPrintsTheWindowsLinesInUtf8) {
    const Result result = cli({"--keyword", "两页", "--qq", shop});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "开始运行...\n"
              "发现排名：1名，继续...\n"
              "发现排名：63名，继续...\n"
              "搜索完毕！以上就是关键字链接排名。\n"
              "如搜索排名有误，请回帖楼主修正。\n"
              "本排名程式，Kolvex免费出品。虽然木有技术含量！\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, JsonFormatGivesOneObjectASearch) {
    const Result result =
        cli({"--keyword", "两页", "--keyword", "无链接", "--qq", shop, "--format", "json"});
    EXPECT_EQ(result.status, exit_search_failed);
    std::istringstream lines(result.out);
    std::string first;
    std::string second;
    std::string rest;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, rest));
    EXPECT_THAT(first, StartsWith("{\"keyword\":\"两页\",\"qq\":\"55555\",\"checked_at\":\"20"));
    EXPECT_THAT(first, HasSubstr("\"pages_scanned\":2,\"ranks\":[1,63],\"outcome\":\"finished\","
                                 "\"log\":[\"开始运行...\",\"发现排名：1名，继续...\","));
    EXPECT_THAT(second, HasSubstr("\"ranks\":[],\"outcome\":\"no-canonical\",\"log\":["
                                  "\"开始运行...\",\"转向错误，请联系作者修正！\"]}"));

    const Result failed = cli({"--keyword", "禁止", "--qq", shop, "--format", "json"});
    EXPECT_EQ(failed.status, exit_search_failed);
    EXPECT_THAT(failed.out, HasSubstr("\"outcome\":\"network-error\",\"error\":\"HTTP 403\""));
}

TEST_F(CliTest, CsvFormatGivesOneRowARank) {
    const Result result = cli({"--keyword", "两页", "--qq", shop, "--format", "csv"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, StartsWith("\xEF\xBB\xBF"
                                       "checked_at,keyword,qq,rank,page,position\r\n"));
    EXPECT_THAT(result.out, HasSubstr("Z,两页,55555,1,1,1\r\n"));
    EXPECT_THAT(result.out, HasSubstr("Z,两页,55555,63,2,3\r\n"));
}

TEST_F(CliTest, QqNumbersAboveThe32BitRangeAreSearchedAsTyped) {
    const Result result = cli({"--keyword", "大号", "--qq", "0009876543210"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, HasSubstr("发现排名：1名，继续...\n"));
}

TEST_F(CliTest, RefusesBadInputWithoutARequest) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"--keyword", "两页"}, "请先输入在查询"},
        {{"--keyword", "两页", "--qq", "0"}, "请先输入在查询"},
        {{"--keyword", "", "--qq", shop}, "请先输入在查询"},
        {{"--qq", shop}, "请先输入在查询"},
        {{"--keyword", "两页", "--qq", "12a45"}, "--qq takes"},
        {{"--keyword", "两页", "--qq", "12345678901234"}, "--qq takes"},
        {{"--keyword", "两页", "--qq", shop, "--interval", "1s"}, "--interval takes"},
        {{"--keyword", "手机😀", "--qq", shop}, "code page (936) cannot hold"},
        {{"--keyword", "两页", "--qq", shop, "--format", "xml"}, "--format takes"},
        {{"--keyword", "两页", "--qq", shop, "--colour"}, "unknown argument: --colour"},
        {{"--keyword", "两页", "--qq"}, "--qq needs a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const auto before = market_.requests().size();
        const Result result = cli(c.args);
        EXPECT_EQ(result.status, exit_usage);
        EXPECT_THAT(result.err, HasSubstr(c.says));
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(market_.requests().size(), before);
    }
}

TEST_F(CliTest, HelpAndVersion) {
    EXPECT_THAT(cli({"--help"}).out, HasSubstr("usage: zerano-cli --keyword TEXT"));
    EXPECT_THAT(cli({"--version"}).out, StartsWith("zerano-cli "));
}

bool stall_reached(const Marketplace& market) {
    for (const std::string& request : market.requests()) {
        if (request.ends_with("/61-60.html")) {
            return true;
        }
    }
    return false;
}

void wait_for_stall(const Marketplace& market) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stall_reached(market) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(stall_reached(market));
}

TEST_F(CliTest, StopEndsTheSearchWithNoFurtherLine) {
    std::stop_source stop;
    Result result{};
    std::jthread search([&] {
        result = cli({"--keyword", "卡住", "--qq", shop}, stop.get_token());
    });
    wait_for_stall(market_);
    stop.request_stop();
    search.join();
    EXPECT_EQ(result.status, exit_stopped);
    EXPECT_EQ(result.out, "开始运行...\n发现排名：1名，继续...\n");
}

TEST_F(CliTest, SigintEndsTheProcessWithStatus130) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    const std::string host = market_.host();
    std::vector<std::string> args = {ZERANO_CLI_PATH, "--keyword", "卡住",   "--qq", shop,
                                     "--interval",    "0",         "--host", host};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, ZERANO_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);

    wait_for_stall(market_);
    const auto signalled = std::chrono::steady_clock::now();
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const auto took = std::chrono::steady_clock::now() - signalled;

    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_ends[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), exit_stopped);
    EXPECT_EQ(out, "开始运行...\n发现排名：1名，继续...\n");
    EXPECT_LT(took, std::chrono::seconds(1));
}

}  // namespace
}  // namespace zerano
