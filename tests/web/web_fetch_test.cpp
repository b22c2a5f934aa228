#include "web/web_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/web/loopback_server.h"

namespace zerano {
namespace {

using test::Answer;
using test::closed_port;
using test::LoopbackServer;
using test::reply;
using test::SeenRequest;
using test::UnansweredPort;

const std::string default_agent_line =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n";

std::string default_block(const std::string& url) {
    return "Accept: */*\r\nReferer: " + url +
           "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded";
}

// Lines of a header block, each ended by "\r\n", as they appear on the wire.
std::string as_lines(const std::string& block) {
    return block + "\r\n";
}

std::string host_line(const LoopbackServer& server) {
    return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
}

Answer ok(std::string_view body, std::string_view headers = "") {
    return {reply("200 OK", headers, body)};
}

TEST(WebFetch, PlainGetSendsTheDefaultRequest) {
    LoopbackServer server([](const SeenRequest&) { return ok("hello", "X-Kind: plain\r\n"); });
    const std::string url = server.address("/list?p=2");
    FetchOptions options;
    const std::string body = web_fetch(url, options);

    EXPECT_EQ(body, "hello");
    EXPECT_EQ(options.outcome.status, 200);
    EXPECT_EQ(options.outcome.error, "");
    EXPECT_EQ(options.headers, default_block(url));
    EXPECT_EQ(options.response_headers,
              "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Kind: plain\r\n");
    EXPECT_EQ(options.response_cookies, "");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].head, "GET /list?p=2 HTTP/1.1\r\n" + host_line(server) +
                                             default_agent_line + as_lines(default_block(url)) +
                                             "\r\n");
}

TEST(WebFetch, CallerHeadersJoinTheBlockAndOneAgentGoesOut) {
    struct Case {
        std::string headers;
        std::vector<std::string> defaults_added;  // after the caller's lines, in this order
        std::string agent_line;                   // what libcurl adds; empty when none
    };
    const std::vector<std::string> all = {"Accept", "Referer", "Accept-Language", "Content-Type"};
    const Case cases[] = {
        {"X-Test: 1", all, default_agent_line},
        {"accept: text/html", all, default_agent_line},
        {"Accept: text/html", {"Referer", "Accept-Language", "Content-Type"}, default_agent_line},
        {"Referer: http://r/\r\nAccept-Language: en\r\nContent-Type: text/plain\r\nAccept: a/b",
         {},
         default_agent_line},
        // The caller's line is the agent and goes out once.
        {"User-Agent: A", all, ""},
        {"X-Test: 1\r\nuser-agent: B", all, ""},
        {"User-Agent:", all, ""},
        // An agent taken from a colon far away keeps to its first line.
        {"X-Note: see user-agent:\r\nX-Other: 1", all, "User-Agent: see user-agent:\r\n"},
        {"X-Empty:", all, default_agent_line},
    };
    LoopbackServer server([](const SeenRequest&) { return ok(""); });
    const std::string url = server.address("/h");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        std::string block = c.headers;
        for (const std::string& name : c.defaults_added) {
            block += "\r\n" + name + ": ";
            block += name == "Accept"            ? "*/*"
                     : name == "Referer"         ? url
                     : name == "Accept-Language" ? "zh-cn"
                                                 : "application/x-www-form-urlencoded";
        }
        FetchOptions options;
        options.headers = c.headers;
        web_fetch(url, options);
        EXPECT_EQ(options.headers, block);
        const SeenRequest seen = server.last_request();
        EXPECT_EQ(seen.header_lines(), host_line(server) + c.agent_line + as_lines(block));
        EXPECT_EQ(seen.values("User-Agent").size(), 1u);
    }
}

TEST(WebFetch, BodyFollowsTheVerb) {
    struct Case {
        int verb;
        std::string post_text;
        std::string post_bytes;
        std::string method;
        std::string sent_body;
        bool content_length;
    };
    const std::string raw("raw\0bytes", 9);
    const Case cases[] = {
        {1, "k=v", "", "POST", "k=v", true},
        {1, "k=v", raw, "POST", raw, true},
        {1, "", "", "POST", "", true},
        {2, "k=v", "", "HEAD", "k=v", true},
        {2, "", "", "HEAD", "", false},
        {0, "k=v", "x", "GET", "", false},
        {3, "k=v", "", "GET", "", false},
        {-1, "k=v", "", "GET", "", false},
        {1, std::string(std::size_t{2} << 20, 'b'), "", "POST",
         std::string(std::size_t{2} << 20, 'b'), true},
    };
    LoopbackServer server([](const SeenRequest& seen) {
        // A HEAD answer announces a body that never comes.
        return seen.request_line().starts_with("HEAD")
                   ? Answer{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"}
                   : ok("done");
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.verb) + " " + c.post_text.substr(0, 8));
        FetchOptions options;
        options.verb = c.verb;
        options.post_text = c.post_text;
        options.post_bytes = c.post_bytes;
        const std::string body = web_fetch(server.address("/v"), options);
        EXPECT_EQ(options.outcome.error, "");
        EXPECT_EQ(body, c.method == "HEAD" ? "" : "done");
        const SeenRequest seen = server.last_request();
        EXPECT_EQ(seen.request_line(), c.method + " /v HTTP/1.1");
        EXPECT_EQ(seen.body, c.sent_body);
        EXPECT_EQ(seen.values("Content-Length").size(), c.content_length ? 1u : 0u);
        EXPECT_EQ(seen.values("Content-Type"),
                  std::vector<std::string>{"application/x-www-form-urlencoded"});
        EXPECT_TRUE(seen.values("Expect").empty());
        EXPECT_EQ(options.post_bytes, c.verb == 1 || c.verb == 2 ? c.sent_body : c.post_bytes);
    }
}

TEST(WebFetch, RedirectsFollowTheirRules) {
    LoopbackServer server([](const SeenRequest& seen) {
        const std::string line = seen.request_line();
        const std::string path =
            line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        if (path.starts_with("/to/")) {
            const std::string code = path.substr(4, 3);
            return Answer{
                reply(code + " Moved", "Location: /target\r\nSet-Cookie: hop=1\r\n", "moved")};
        }
        if (path == "/loop") {
            return Answer{reply("302 Found", "Location: /loop\r\n", "")};
        }
        if (path == "/ftp") {
            return Answer{reply("302 Found", "Location: ftp://127.0.0.1/x\r\n", "")};
        }
        return ok(line.substr(0, line.find(' ')) + " " + seen.body, "Set-Cookie: end=2\r\n");
    });
    struct Case {
        std::string path;
        int verb;
        bool no_redirect;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"/to/302", 0, false, 200, "GET "},     {"/to/302", 0, true, 302, "moved"},
        {"/to/301", 1, false, 200, "GET "},     {"/to/302", 1, false, 200, "GET "},
        {"/to/303", 1, false, 200, "GET "},     {"/to/307", 1, false, 200, "POST k=v"},
        {"/to/308", 1, false, 200, "POST k=v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " verb " + std::to_string(c.verb));
        FetchOptions options;
        options.verb = c.verb;
        options.post_text = "k=v";
        options.no_redirect = c.no_redirect;
        EXPECT_EQ(web_fetch(server.address(c.path), options), c.body);
        EXPECT_EQ(options.outcome.status, c.status);
        // Only the final response's block comes back.
        EXPECT_EQ(options.response_cookies, c.no_redirect ? "hop=1" : "end=2");
        EXPECT_EQ(options.response_headers.find("HTTP/", 1), std::string::npos);
    }

    const std::size_t before = server.requests().size();
    FetchOptions looping;
    EXPECT_EQ(web_fetch(server.address("/loop"), looping), "");
    EXPECT_NE(looping.outcome.error, "");
    EXPECT_EQ(server.requests().size() - before, 11u);

    FetchOptions elsewhere;
    EXPECT_EQ(web_fetch(server.address("/ftp"), elsewhere), "");
    EXPECT_NE(elsewhere.outcome.error, "");
}

TEST(WebFetch, SetCookieLinesBecomeTheResponseCookies) {
    struct Case {
        std::string lines;
        std::string lines_back;
        std::string cookies;
    };
    const std::string padding = "X-Padding: " + std::string(6000, 'p') + "\r\n";
    const Case cases[] = {
        {"Set-Cookie: a=1; path=/\r\nset-cookie: b=2\r\nSET-COOKIE:c=3;HttpOnly\r\n",
         "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nSet-Cookie:c=3;HttpOnly\r\n",
         "a=1; b=2; c=3"},
        {"X-Other: 1\r\n", "X-Other: 1\r\n", ""},
        // A long block must not lose the cookies at its end.
        {padding + "Set-Cookie: late=1; path=/\r\n", padding + "Set-Cookie: late=1; path=/\r\n",
         "late=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cookies);
        LoopbackServer server([&](const SeenRequest&) { return ok("b", c.lines); });
        FetchOptions options;
        EXPECT_EQ(web_fetch(server.address("/c"), options), "b");
        EXPECT_EQ(options.response_cookies, c.cookies);
        EXPECT_EQ(options.response_headers,
                  "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n" + c.lines_back);
    }
}

TEST(WebFetch, SuppliedCookiesGoOutAndTakeTheResponseCookies) {
    struct Case {
        std::string cookies;
        std::string headers;
        std::vector<std::string> sent;
        std::string cookies_after;
    };
    const Case cases[] = {
        {"", "", {}, "s=9"},
        {"a=1; s=2", "", {"a=1; s=2"}, "s=9; a=1"},
        {"a=1", "Cookie: own=1", {"own=1", "a=1"}, "s=9; a=1"},
    };
    LoopbackServer server([](const SeenRequest&) { return ok("", "Set-Cookie: s=9; path=/\r\n"); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cookies);
        FetchOptions options;
        options.cookies = c.cookies;
        options.headers = c.headers;
        web_fetch(server.address("/s"), options);
        EXPECT_EQ(server.last_request().values("Cookie"), c.sent);
        EXPECT_EQ(options.cookies, c.cookies_after);
        EXPECT_EQ(options.response_cookies, "s=9");
    }
}

TEST(WebFetch, CookieStoreServesEveryThreadButNotSuppliedCookies) {
    LoopbackServer server([](const SeenRequest& seen) {
        const std::string line = seen.request_line();
        if (line.starts_with("GET /set/")) {
            const std::string name = line.substr(9, line.find(' ', 9) - 9);
            return ok("", "Set-Cookie: " + name + "=1; path=/\r\n");
        }
        return ok("");
    });
    // A host name of its own keeps the cookies of other tests in this process out of sight.
    const std::string site = "http://localhost:" + std::to_string(server.port());
    const auto fetch = [&](std::string_view path, std::optional<std::string> cookies) {
        FetchOptions options;
        options.cookies = std::move(cookies);
        web_fetch(site + std::string(path), options);
        return server.last_request().values("Cookie");
    };
    std::thread([&] { fetch("/set/kept", std::nullopt); }).join();
    EXPECT_EQ(fetch("/look", std::nullopt), std::vector<std::string>{"kept=1"});
    EXPECT_EQ(fetch("/set/apart", std::string()), std::vector<std::string>{});
    EXPECT_EQ(fetch("/look", std::string("mine=1")), std::vector<std::string>{"mine=1"});
    std::vector<std::string> seen_elsewhere;
    std::thread([&] { seen_elsewhere = fetch("/look", std::nullopt); }).join();
    EXPECT_EQ(seen_elsewhere, std::vector<std::string>{"kept=1"});
}

TEST(WebFetch, ProxyGetsTheRequestAndEnvironmentProxiesAreIgnored) {
    LoopbackServer proxy([](const SeenRequest& seen) {
        return seen.request_line().starts_with("CONNECT")
                   ? Answer{reply("403 Forbidden", "Connection: close\r\n", "")}
                   : ok("via proxy");
    });
    const std::string proxy_address = "127.0.0.1:" + std::to_string(proxy.port());
    ::setenv("no_proxy", "*", 1);
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(closed_port())).c_str(), 1);
    ::setenv("https_proxy", ::getenv("http_proxy"), 1);

    FetchOptions plain;
    plain.proxy = proxy_address;
    EXPECT_EQ(web_fetch("http://zerano.test/x?y=1", plain), "via proxy");
    EXPECT_EQ(proxy.last_request().request_line(), "GET http://zerano.test/x?y=1 HTTP/1.1");
    EXPECT_EQ(proxy.last_request().values("Host"), std::vector<std::string>{"zerano.test"});
    EXPECT_EQ(proxy.last_request().values("Referer"),
              std::vector<std::string>{"http://zerano.test/x?y=1"});
    EXPECT_TRUE(proxy.last_request().values("Proxy-Connection").empty());

    FetchOptions secure;
    secure.proxy = proxy_address;
    EXPECT_EQ(web_fetch("https://zerano.test/x", secure), "");
    EXPECT_NE(secure.outcome.error, "");
    EXPECT_EQ(proxy.last_request().request_line(), "CONNECT zerano.test:443 HTTP/1.1");
    EXPECT_TRUE(proxy.last_request().values("Proxy-Connection").empty());

    ::unsetenv("no_proxy");
    LoopbackServer direct([](const SeenRequest&) { return ok("direct"); });
    FetchOptions none;
    EXPECT_EQ(web_fetch(direct.address("/d"), none), "direct");
    ::unsetenv("http_proxy");
    ::unsetenv("https_proxy");
}

TEST(WebFetch, FailedExchangesReturnNoBodyAndSayWhy) {
    LoopbackServer server([](const SeenRequest& seen) {
        if (seen.request_line().starts_with("GET /short")) {
            return Answer{
                "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n"
                "only ten.."};
        }
        return ok("page");
    });
    struct Case {
        std::string url;
        int status;
    };
    const std::string port = std::to_string(server.port());
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(closed_port()) + "/", 0},
        {server.address("/short"), 200},
        // A server that speaks no TLS fails an https request.
        {"https://127.0.0.1:" + port + "/", 0},
        // Odd addresses never turn into another scheme, user or host.
        {"ftp://127.0.0.1:" + port + "/x", 0},
        {"file:///etc/passwd", 0},
        {"http://evil@127.0.0.1:" + port + "/x", 0},
        {"http://127.0.0.1:0/", 0},
        {"http://127.0.0.1:70000/", 0},
        {"http://127.0.0.1?q=1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const std::size_t before = server.requests().size();
        FetchOptions options;
        options.cookies = "a = 1";
        EXPECT_EQ(web_fetch(c.url, options), "");
        EXPECT_EQ(options.outcome.status, c.status);
        EXPECT_NE(options.outcome.error, "");
        EXPECT_EQ(options.headers.substr(0, 11), "Accept: */*");
        EXPECT_EQ(options.response_headers, "");
        EXPECT_EQ(options.cookies, "a=1");
        const std::vector<SeenRequest> seen = server.requests();
        if (c.url.starts_with("https")) {
            ASSERT_EQ(seen.size(), before + 1);
            EXPECT_EQ(seen.back().head.substr(0, 1), "\x16");
        } else if (c.status == 0) {
            EXPECT_EQ(seen.size(), before);
        }
    }
}

TEST(WebFetch, AddressesReachTheServerAsSplit) {
    LoopbackServer server([](const SeenRequest&) { return ok("x"); });
    const std::string port = std::to_string(server.port());
    const std::pair<std::string, std::string> cases[] = {
        {"HTTP://127.0.0.1:" + port + "/Mixed/Case?Q=1", "GET /Mixed/Case?Q=1 HTTP/1.1"},
        {"127.0.0.1:" + port + "/no/scheme", "GET /no/scheme HTTP/1.1"},
        {"http://127.0.0.1:" + port + "@zerano.test/at", "GET /at HTTP/1.1"},
        {"http://127.0.0.1:" + port + "/a b/\xD2\xFD?k=\r\n",
         "GET /a%20b/%D2%FD?k=%0D%0A HTTP/1.1"},
    };
    for (const auto& [url, line] : cases) {
        SCOPED_TRACE(url);
        FetchOptions options;
        EXPECT_EQ(web_fetch(url, options), "x");
        EXPECT_EQ(server.last_request().request_line(), line);
        EXPECT_EQ(server.last_request().values("Host"),
                  std::vector<std::string>{"127.0.0.1:" + port});
    }
}

TEST(WebFetch, ErrorStatusesAreResponses) {
    for (const int status : {404, 500}) {
        LoopbackServer server([status](const SeenRequest&) {
            return Answer{reply(std::to_string(status) + " Bad", "", "why")};
        });
        FetchOptions options;
        EXPECT_EQ(web_fetch(server.address("/e"), options), "why");
        EXPECT_EQ(options.outcome.status, status);
        EXPECT_EQ(options.outcome.error, "");
    }
}

TEST(WebFetch, BodyOverTheCapFails) {
    const std::size_t cap = std::size_t{64} << 20;
    const std::string big(cap + 1, 'z');
    LoopbackServer server([&](const SeenRequest& seen) {
        const std::string_view bytes(
            big.data(), seen.request_line().starts_with("GET /over") ? big.size() : cap);
        return ok(bytes);
    });
    FetchOptions within;
    EXPECT_EQ(web_fetch(server.address("/full"), within).size(), cap);
    EXPECT_EQ(within.outcome.error, "");

    FetchOptions over;
    EXPECT_EQ(web_fetch(server.address("/over"), over), "");
    EXPECT_EQ(over.outcome.status, 200);
    EXPECT_EQ(over.outcome.error, "response body over 64 MiB");
}

TEST(WebFetch, StopEndsTheExchangeAtOnce) {
    LoopbackServer server([](const SeenRequest& seen) {
        if (seen.request_line().starts_with("GET /half")) {
            return Answer{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf", true};
        }
        return Answer{"", true};
    });
    const UnansweredPort unanswered;
    const std::pair<std::string, std::string> cases[] = {
        {"connecting", "http://127.0.0.1:" + std::to_string(unanswered.port()) + "/"},
        {"awaiting the answer", server.address("/silent")},
        {"reading the body", server.address("/half")},
    };
    for (const auto& [phase, url] : cases) {
        SCOPED_TRACE(phase);
        std::stop_source stop;
        std::chrono::steady_clock::time_point stopped_at;
        std::jthread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stopped_at = std::chrono::steady_clock::now();
            stop.request_stop();
        });
        FetchOptions options;
        const std::string body = web_fetch(url, options, stop.get_token());
        const auto returned_at = std::chrono::steady_clock::now();
        stopper.join();
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(returned_at - stopped_at);
        std::cout << "stop to return while " << phase << ": " << elapsed.count() << " us\n";
        EXPECT_EQ(body, "");
        EXPECT_EQ(options.outcome.error, "stopped");
        EXPECT_LT(elapsed, std::chrono::seconds(1));
    }

    std::stop_source early;
    early.request_stop();
    FetchOptions untouched;
    untouched.headers = "X: 1";
    EXPECT_EQ(web_fetch(server.address("/silent"), untouched, early.get_token()), "");
    EXPECT_EQ(untouched.outcome.error, "stopped");
    EXPECT_EQ(untouched.headers, "X: 1");
}

TEST(WebFetch, CallsOnOneThreadShareOneConnection) {
    LoopbackServer server([](const SeenRequest&) { return ok("again"); });
    for (int i = 0; i < 3; ++i) {
        FetchOptions options;
        EXPECT_EQ(web_fetch(server.address("/walk"), options), "again");
    }
    EXPECT_EQ(server.connections(), 1);
    std::thread([&] {
        FetchOptions options;
        web_fetch(server.address("/walk"), options);
    }).join();
    EXPECT_EQ(server.connections(), 2);
}

}  // namespace
}  // namespace zerano
