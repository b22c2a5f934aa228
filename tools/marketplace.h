// A local marketplace: the search service and its result pages, served on 127.0.0.1.
//
// A search request names a keyword (percent-encoded UTF-8). Its page links, as the canonical
// address, the first result page "/list/<id>/1-60.html"; later pages are "/list/<id>/61-60.html",
// "/list/<id>/121-60.html" and so on. Result pages are UTF-8 and mark each listing with its
// shop's number between single quotes, among noise that is not a listing token.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zerano {

enum class Fault {
    none,
    http403,
    http500,
    reset,  // the connection closes before the body is complete
    stall,  // no answer for several seconds
};

enum class CanonicalLink {
    normal,
    missing,       // the search page has no canonical link
    spaced_close,  // the link closes with " />", which the job does not accept
    no_marker,     // the canonical address holds no "1-60"
};

struct Scenario {
    // The shop numbers of each result page's listings, in page order (page 1 first).
    std::vector<std::vector<std::string>> pages{};
    // The pagination values shown on page 1; empty means "1" to the number of pages.
    std::vector<std::string> pagination{};
    bool show_pagination = true;
    CanonicalLink canonical = CanonicalLink::normal;
    // Faults by request: 0 is the search page, k is result page k.
    std::map<int, Fault> faults{};
    // Result pages list their listings only to a client that sends back the cookie that the
    // search page set.
    bool needs_cookie = false;
    // The canonical address answers with a redirect to the page itself.
    bool redirect = false;
};

// The catalogue for keywords no scenario was added for: derived from the keyword alone.
// The demo case: the keyword 手机 has five pages, and the shop 987654321 stands 7th on page 1
// and 15th and 42nd on page 3 (ranks 7, 135 and 162).
Scenario catalogue_scenario(std::string_view keyword_utf8);

inline constexpr const char* demo_keyword = "手机";
inline constexpr const char* demo_shop = "987654321";

class Marketplace {
  public:
    // Serves on 127.0.0.1:`port` from a thread of its own; port 0 picks a free port.
    explicit Marketplace(int port = 0);
    ~Marketplace();
    Marketplace(const Marketplace&) = delete;
    Marketplace& operator=(const Marketplace&) = delete;

    void add_scenario(std::string keyword_utf8, Scenario scenario);

    int port() const;
    std::string host() const;  // "127.0.0.1:<port>"
    // Path and query of every request served so far, in order of arrival.
    std::vector<std::string> requests() const;

    // Serves until stop() is called from another thread (the executable's main loop).
    void wait();
    void stop();

  private:
    struct Server;
    std::unique_ptr<Server> server_;
};

}  // namespace zerano
