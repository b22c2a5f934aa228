#include "web/web_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "text/text_ops.h"
#include "web/cookie_text.h"
#include "web/url.h"

namespace zerano {
namespace {

// Limits that keep a dead server or an endless body from holding the job.
constexpr long connect_timeout_seconds = 30;
constexpr long idle_seconds = 30;  // a transfer that receives nothing this long fails
constexpr std::size_t body_cap = std::size_t{64} << 20;
constexpr const char* body_cap_error = "response body over 64 MiB";
constexpr long max_redirects = 10;
// How long one wait for network activity may last; a stop wakes it at once.
constexpr int poll_milliseconds = 100;

constexpr const char* default_agent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr const char* stopped_error = "stopped";

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

class HeaderList {
  public:
    // False when libcurl could not take the line.
    bool append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list_.get(), line.c_str());
        if (grown == nullptr) {
            return false;
        }
        list_.release();
        list_.reset(grown);
        return true;
    }
    curl_slist* get() const { return list_.get(); }

  private:
    std::unique_ptr<curl_slist, ListCleanup> list_;
};

// Never cleaned up: threads may still hold handles while the process ends.
bool library_ready() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// The process-wide cookie store: a share of cookies only, locked for any thread.
class CookieStore {
  public:
    CookieStore() : share_(curl_share_init()) {
        if (share_ == nullptr) {
            return;
        }
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CookieStore::lock);
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CookieStore::unlock);
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    ~CookieStore() { curl_share_cleanup(share_); }
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    CURLSH* get() const { return share_; }

  private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CookieStore*>(self)->mutexes_.at(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CookieStore*>(self)->mutexes_.at(data).unlock();
    }

    std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
    CURLSH* share_;
};

CURLSH* cookie_store() {
    static CookieStore store;
    return store.get();
}

// One multi handle per thread: its connection cache keeps a page walk on one connection.
// libcurl connections must not be shared between concurrent threads.
CURLM* thread_multi() {
    thread_local MultiHandle multi(curl_multi_init());
    return multi.get();
}

// Keeps an easy handle in the thread's multi handle for the length of one transfer.
class Attachment {
  public:
    Attachment(CURLM* multi, CURL* easy)
        : multi_(multi), easy_(easy), added_(curl_multi_add_handle(multi, easy) == CURLM_OK) {}
    ~Attachment() {
        if (added_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    bool added() const { return added_; }

  private:
    CURLM* multi_;
    CURL* easy_;
    bool added_;
};

struct Received {
    std::string body;
    bool over_cap = false;
    std::string headers;  // the block of the latest response
    // A HEAD that carries a body goes out as a renamed POST, for which libcurl would wait for
    // the announced response body; the exchange ends with the response's header block instead,
    // so such a HEAD follows no redirect.
    bool end_at_headers = false;
    bool ended_at_headers = false;
};

bool is_interim(std::string_view block) {
    const std::size_t space = block.find(' ');
    return space != std::string_view::npos && block.substr(space + 1, 1) == "1";
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const std::size_t bytes = size * count;
    if (bytes > body_cap - received.body.size()) {
        received.over_cap = true;
        return 0;
    }
    received.body.append(data, bytes);
    return bytes;
}

// Each status line starts a new block, so that only the final response of a redirect chain
// (or after an interim 1xx) is kept.
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const std::size_t bytes = size * count;
    std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {
        received.headers.clear();
    }
    if (line.ends_with("\n")) {
        line.remove_suffix(1);
    }
    if (line.ends_with("\r")) {
        line.remove_suffix(1);
    }
    if (!line.empty()) {
        received.headers.append(line);
        received.headers.append("\r\n");
    } else if (received.end_at_headers && !is_interim(received.headers)) {
        received.ended_at_headers = true;
        return 0;
    }
    return bytes;
}

std::string agent_for(std::string_view headers) {
    if (find_position(headers, "User-Agent:", 1, true) == -1) {
        return default_agent;
    }
    std::string agent = trimmed(text_between(headers, "User-Agent:", "\r\n"));
    if (agent.empty()) {
        agent = text_after_colon(headers);
    }
    // The fallback can reach over several lines; only the first may become the agent.
    const std::size_t line_end = agent.find_first_of("\r\n");
    if (line_end != std::string::npos) {
        agent.resize(line_end);
    }
    return agent;
}

std::vector<std::string> block_lines(std::string_view block) {
    std::vector<std::string> lines;
    while (!block.empty()) {
        const std::size_t end = block.find("\r\n");
        lines.emplace_back(block.substr(0, end));
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 2);
    }
    return lines;
}

bool starts_with_name(std::string_view line, std::string_view name) {
    return line.size() > name.size() && lowercased(line.substr(0, name.size())) == name &&
           (line[name.size()] == ':' || line[name.size()] == ';');
}

void build_header_block(std::string& headers, std::string_view url,
                        const std::optional<std::string>& cookies) {
    if (headers.empty()) {
        headers = "Accept: */*";
    } else if (find_position(headers, "Accept:") == -1) {
        headers += "\r\nAccept: */*";
    }
    if (find_position(headers, "Referer:") == -1) {
        headers += "\r\nReferer: ";
        headers += url;
    }
    if (find_position(headers, "Accept-Language:") == -1) {
        headers += "\r\nAccept-Language: zh-cn";
    }
    if (find_position(headers, "Content-Type:") == -1) {
        headers += "\r\nContent-Type: application/x-www-form-urlencoded";
    }
    if (cookies && !cookies->empty()) {
        headers += "\r\nCookie: ";
        headers += *cookies;
    }
}

// libcurl drops a line whose value is blank; written "Name;" it goes out as "Name:".
std::string as_curl_line(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        line.find_first_not_of(" \t", colon + 1) == std::string_view::npos) {
        std::string named(line.substr(0, colon));
        named += ';';
        return named;
    }
    return std::string(line);
}

bool is_host_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// The path as the request line carries it: bytes that cannot stand in an address are
// percent-encoded, so that none of them can end or split the request line.
std::string encoded_path(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

// The address that goes out is rebuilt from its parts, so its scheme is always http or https
// and no user name or other host can hide in it. Empty when the parts are unusable.
std::string request_address(std::string_view url, bool secure, std::string& error) {
    const std::string host = url_host(url);
    const int port = url_port(url);
    if (host.empty() || !std::all_of(host.begin(), host.end(), is_host_byte)) {
        error = "unusable host name \"" + host + "\"";
        return {};
    }
    if (port < 1 || port > 65535) {
        error = "unusable port " + std::to_string(port);
        return {};
    }
    return (secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
           encoded_path(url_path(url));
}

struct Request {
    std::string address;
    const char* verb = "GET";
    bool secure = false;
    const std::string* body = nullptr;  // POST and HEAD only
    const HeaderList* lines = nullptr;
    const HeaderList* proxy_lines = nullptr;
    std::string agent;  // empty when a caller's line carries it
    bool use_store = false;
    bool follow = true;
    const std::string* proxy = nullptr;
};

void set_options(CURL* easy, const Request& request, Received& received, char* error_text) {
    curl_easy_setopt(easy, CURLOPT_URL, request.address.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // An https request refuses a redirect to http; an http one may go on to https.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, request.secure ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.follow ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, max_redirects);
    curl_easy_setopt(easy, CURLOPT_POSTREDIR, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.lines->get());
    if (!request.agent.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, request.agent.c_str());
    }
    if (request.use_store) {
        curl_easy_setopt(easy, CURLOPT_SHARE, cookie_store());
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }
    curl_easy_setopt(easy, CURLOPT_PROXY, request.proxy->c_str());
    if (!request.proxy->empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
        curl_easy_setopt(easy, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
        curl_easy_setopt(easy, CURLOPT_PROXYHEADER, request.proxy_lines->get());
    }

    const std::string_view verb = request.verb;
    if (verb == "HEAD" && (request.body == nullptr || request.body->empty())) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.body != nullptr) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body->data());
        if (verb == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "HEAD");
            received.end_at_headers = true;
        }
    }

    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &received);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024);

    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, connect_timeout_seconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, idle_seconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A stop must not wait for a name lookup to finish.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
}

// Drives the transfer, waking at least every poll_milliseconds and at once on a stop.
// Returns false when stopped.
bool drive(CURLM* multi, CURL* easy, std::stop_token stop, CURLcode& result) {
    std::stop_callback wake(stop, [multi] { curl_multi_wakeup(multi); });
    for (;;) {
        if (stop.stop_requested()) {
            return false;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            return true;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
                return true;
            }
        }
        curl_multi_poll(multi, nullptr, 0, poll_milliseconds, nullptr);
    }
}

struct Exchange {
    int status = 0;
    std::string error;
    Received received;
};

void exchange(CURLM* multi, CURL* easy, const Request& request, std::stop_token stop,
              Exchange& out) {
    std::array<char, CURL_ERROR_SIZE> error_text{};
    set_options(easy, request, out.received, error_text.data());
    Attachment attachment(multi, easy);
    if (!attachment.added()) {
        out.error = "the transfer could not start";
        return;
    }
    CURLcode result = CURLE_OK;
    const bool finished = drive(multi, easy, stop, result);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    out.status = static_cast<int>(status);
    if (!finished) {
        out.error = stopped_error;
    } else if (out.received.over_cap) {
        out.error = body_cap_error;
    } else if (result != CURLE_OK && !out.received.ended_at_headers) {
        out.error = error_text[0] != '\0' ? error_text.data() : curl_easy_strerror(result);
    }
}

std::string cookies_set_by(std::string_view headers) {
    std::string cookies;
    for (const std::string& line : split_items(headers, "\r\n")) {
        if (find_position(line, "Set-Cookie") == -1) {
            continue;
        }
        const std::string item = find_position(line, ";") != -1
                                     ? text_between(line, "Set-Cookie:", ";")
                                     : replace_every(line, "Set-Cookie:", "", true);
        cookies += trimmed(item);
        cookies += "; ";
    }
    if (!cookies.empty()) {
        cookies.resize(cookies.size() - 2);
    }
    return cookies;
}

}  // namespace

std::string web_fetch(std::string_view url, FetchOptions& options, std::stop_token stop) {
    options.outcome = {};
    if (stop.stop_requested()) {
        options.outcome.error = stopped_error;
        return {};
    }
    CURLM* multi = library_ready() ? thread_multi() : nullptr;
    const EasyHandle easy(multi != nullptr ? curl_easy_init() : nullptr);
    if (!easy) {
        options.outcome.error = "no request handle";
        return {};
    }

    Request request;
    const int verb = options.verb >= 0 && options.verb <= 2 ? options.verb : 0;
    request.verb = verb == 1 ? "POST" : verb == 2 ? "HEAD" : "GET";
    request.secure = lowercased(left_part(url, 5)) == "https";
    request.use_store = !options.cookies.has_value();
    request.follow = !options.no_redirect;
    request.proxy = &options.proxy;
    request.agent = agent_for(options.headers);

    build_header_block(options.headers, url, options.cookies);
    HeaderList lines;
    bool lines_taken = lines.append("Expect:");
    for (const std::string& line : block_lines(options.headers)) {
        if (starts_with_name(line, "user-agent")) {
            request.agent.clear();
        }
        lines_taken = lines_taken && lines.append(as_curl_line(line));
    }
    request.lines = &lines;
    // libcurl would add this legacy line for the proxy; nothing needs it.
    HeaderList proxy_lines;
    lines_taken = lines_taken && proxy_lines.append("Proxy-Connection:");
    request.proxy_lines = &proxy_lines;

    if (verb != 0) {
        if (options.post_bytes.empty()) {
            options.post_bytes = options.post_text;
        }
        request.body = &options.post_bytes;
    }

    Exchange result;
    request.address = request_address(url, request.secure, result.error);
    if (!lines_taken) {
        result.error = "the header block could not be stored";
    } else if (!request.address.empty()) {
        exchange(multi, easy.get(), request, stop, result);
    }

    options.outcome.status = result.status;
    options.outcome.error = result.error;
    std::string body;
    if (result.error.empty()) {
        body = std::move(result.received.body);
        options.response_headers =
            replace_every(result.received.headers, "Set-Cookie", "Set-Cookie", true);
    } else {
        options.response_headers.clear();
    }
    options.response_cookies = cookies_set_by(options.response_headers);
    if (options.cookies) {
        merge_cookies(*options.cookies, options.response_cookies);
    }
    return body;
}

}  // namespace zerano
