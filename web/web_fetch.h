// One HTTP or HTTPS exchange. Connections stay open between calls on the same thread; cookies
// that responses set are kept for the whole process in memory unless the caller supplies its
// own cookie text.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace zerano {

// How an exchange ended.
struct FetchOutcome {
    int status = 0;     // status code of the final response; 0 when no response came
    std::string error;  // why no response came, or why the exchange failed; empty otherwise
};

struct FetchOptions {
    int verb = 0;           // 0 GET, 1 POST, 2 HEAD; any other value is GET
    std::string post_text;  // the body of a POST or HEAD when `post_bytes` is empty
    // In/out. Supplied (holding a value, even an empty one): sent as the Cookie line, the
    // process cookie store is left alone, and the response's cookies are merged into it.
    std::optional<std::string> cookies;
    std::string headers;  // in/out: extra request lines joined by "\r\n"; on return, those sent
    bool no_redirect = false;
    std::string post_bytes;  // in/out: filled from `post_text` for POST and HEAD when empty
    std::string proxy;       // "host:port"; empty means a direct connection

    // Out.
    std::string response_cookies;  // "name=value" of each Set-Cookie line, joined by "; "
    std::string response_headers;  // status line and header lines of the final response
    FetchOutcome outcome;
};

// Returns the body of the response; empty when nothing was received or the exchange failed (then
// `outcome.error` says why). Gives up within 100 ms of a stop request.
std::string web_fetch(std::string_view url, FetchOptions& options, std::stop_token stop = {});

}  // namespace zerano
