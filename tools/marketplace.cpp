#include "tools/marketplace.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace zerano {

namespace {

constexpr const char* search_tail =
    "&sClassid=0&Platform=1&charSet=gbk&sf=102&ac=0&as=1&Property=128&PTAG=20084.2.2";
constexpr int listings_per_page = 60;
constexpr auto stall_time = std::chrono::seconds(10);
constexpr const char* html_type = "text/html; charset=utf-8";

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = 0xcbf29ce484222325ULL) {
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    return hash;
}

std::string hex(std::uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4) {
        out[static_cast<std::size_t>(i)] = digits[value & 0xf];
    }
    return out;
}

// Lowercase hex only: the page walk looks for "1-60" in the address, so the id must not hold a
// '-' that could make a second marker.
std::string keyword_id(std::string_view keyword) {
    return hex(fnv1a(keyword));
}

std::string cookie_value(std::string_view keyword) {
    return hex(fnv1a(keyword, fnv1a("zsid")));
}

class SplitMix {
  public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int below(int bound) { return static_cast<int>(next() % static_cast<std::uint64_t>(bound)); }

  private:
    std::uint64_t state_;
};

// 6 to 10 digits, never the demo shop, so the demo case stands exactly where it is placed.
std::string random_shop(SplitMix& rng) {
    for (;;) {
        const int length = 6 + rng.below(5);
        std::string shop(1, static_cast<char>('1' + rng.below(9)));
        while (static_cast<int>(shop.size()) < length) {
            shop += static_cast<char>('0' + rng.below(10));
        }
        if (shop != demo_shop) {
            return shop;
        }
    }
}

std::string html_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Only %XX is decoded; a '+' stays a '+', as the job never sends one for a space.
std::optional<std::string> percent_decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hex_value(text[i + 1]);
        const int low = hex_value(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The keyword of a search request, when the query is exactly what the job sends.
std::optional<std::string> search_keyword(std::string_view target) {
    constexpr std::string_view head = "/comm_search?KeyWord=";
    const std::string_view tail = search_tail;
    if (!target.starts_with(head) || !target.ends_with(tail) ||
        target.size() < head.size() + tail.size()) {
        return std::nullopt;
    }
    const auto encoded = target.substr(head.size(), target.size() - head.size() - tail.size());
    if (encoded.find('&') != std::string_view::npos) {
        return std::nullopt;
    }
    return percent_decode(encoded);
}

// Result page k for "S-60.html" with S = 60 * (k - 1) + 1; nullopt for any other S.
std::optional<int> page_number(std::string_view start) {
    if (start.empty() || start.size() > 9 || start[0] == '0') {
        return std::nullopt;
    }
    int value = 0;
    for (char c : start) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if ((value - 1) % listings_per_page != 0) {
        return std::nullopt;
    }
    return (value - 1) / listings_per_page + 1;
}

// The page that a pagination value names, when it is a page number.
std::optional<int> page_named(const std::string& value) {
    if (value.empty() || value.size() > 6) {
        return std::nullopt;
    }
    int k = 0;
    for (char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        k = k * 10 + (c - '0');
    }
    return k > 0 ? std::optional<int>(k) : std::nullopt;
}

std::string page_start(int page) {
    return std::to_string(listings_per_page * (page - 1) + 1);
}

bool has_cookie(const httplib::Request& request, const std::string& item) {
    for (std::size_t i = 0; i < request.get_header_value_count("Cookie"); ++i) {
        const std::string value = request.get_header_value("Cookie", i);
        std::string_view header = value;
        while (!header.empty()) {
            const auto end = header.find(';');
            auto part = header.substr(0, end);
            while (part.starts_with(' ')) {
                part.remove_prefix(1);
            }
            while (part.ends_with(' ')) {
                part.remove_suffix(1);
            }
            if (part == item) {
                return true;
            }
            header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
        }
    }
    return false;
}

const char* const titles[] = {
    "新款智能手机 全网通 大屏长续航", "官方正品 旗舰店 限时特惠",     "学生老人备用机 超长待机",
    "5G双卡双待 拍照美颜 游戏专用",   "二手九成新 支持验机 包邮到家", "原装数据线 快充套装 赠品",
};

// Noise around each listing: every quoted number here must fail the listing-token pattern
// (four digits, a leading zero, double quotes), and prices stand unquoted.
std::string listing_html(const std::string& shop, std::uint64_t seed) {
    SplitMix rng(seed);
    const int year = 2019 + rng.below(7);
    const int price = 99 + rng.below(8900);
    std::string sku = "0";
    for (int i = 0; i < 6; ++i) {
        sku += static_cast<char>('0' + rng.below(10));
    }
    std::string uid(1, static_cast<char>('1' + rng.below(9)));
    for (int i = 0; i < 8; ++i) {
        uid += static_cast<char>('0' + rng.below(10));
    }
    std::string out = "<li class=\"item\" data-shop='" + shop + "'>";
    out += "<a href=\"/item/" + uid + ".html\" title=\"" + titles[rng.below(6)] + "\">";
    out += titles[rng.below(6)];
    out += "</a> <span class=\"price\">￥" + std::to_string(price) + ".00</span>";
    out += " <em data-year='" + std::to_string(year) + "'>" + std::to_string(year) + "年款</em>";
    out += " <i data-sku='" + sku + "'></i> <b data-uid=\"" + uid + "\"></b></li>\n";
    return out;
}

std::string page_head(const std::string& title) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>" + title + "</title>\n";
}

std::string empty_listing() {
    return "<div class=\"empty\" data-year='2024' data-code='0012345'>"
           "没有找到相关的宝贝，换个关键词试试 <span data-uid=\"123456789\"></span></div>\n";
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// A pipe that becomes readable, for good, when the server stops: every connection polls it
// beside its socket, so an idle keep-alive connection lets go at once instead of timing out.
class StopSignal {
  public:
    StopSignal() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        read_end_ = std::make_unique<FileDescriptor>(fds[0]);
        write_end_ = std::make_unique<FileDescriptor>(fds[1]);
    }
    void raise() {
        const char byte = 1;
        while (::write(write_end_->get(), &byte, 1) < 0 && errno == EINTR) {
        }
    }
    int fd() const { return read_end_->get(); }

  private:
    std::unique_ptr<FileDescriptor> read_end_;
    std::unique_ptr<FileDescriptor> write_end_;
};

enum class Ready { yes, timeout, stopping };

Ready wait_for(int sock, short events, int stop_fd, std::chrono::milliseconds timeout) {
    std::array<pollfd, 2> fds{{{sock, events, 0}, {stop_fd, POLLIN, 0}}};
    int n;
    while ((n = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()))) < 0 &&
           errno == EINTR) {
    }
    if (n < 0 || fds[1].revents != 0) {
        return Ready::stopping;
    }
    // POLLHUP and POLLERR count as ready: the next recv or send reports them.
    return n == 0 ? Ready::timeout : Ready::yes;
}

constexpr auto io_timeout = std::chrono::seconds(5);
// Generous, so that a client pausing between pages keeps its connection.
constexpr auto keep_alive_timeout = std::chrono::seconds(15);

class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(int sock, int stop_fd) : sock_(sock), stop_fd_(stop_fd) {}

    bool wait_for_request() const {
        return buffered() || wait_for(sock_, POLLIN, stop_fd_, keep_alive_timeout) == Ready::yes;
    }

    bool is_readable() const override {
        return buffered() || wait_for(sock_, POLLIN, stop_fd_, io_timeout) == Ready::yes;
    }
    bool is_writable() const override {
        return wait_for(sock_, POLLOUT, stop_fd_, io_timeout) == Ready::yes;
    }

    ssize_t read(char* ptr, size_t size) override {
        if (!buffered()) {
            if (!is_readable()) {
                return -1;
            }
            ssize_t n;
            while ((n = ::recv(sock_, buffer_.data(), buffer_.size(), 0)) < 0 && errno == EINTR) {
            }
            if (n <= 0) {
                return n;
            }
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            if (!is_writable()) {
                return -1;
            }
            const ssize_t n = ::send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR) {
                return -1;
            }
            sent += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        }
        return static_cast<ssize_t>(sent);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        address_of(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        address_of(::getsockname, ip, port);
    }
    socket_t socket() const override { return sock_; }

  private:
    bool buffered() const { return begin_ < end_; }

    template <typename Query>
    void address_of(Query query, std::string& ip, int& port) const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        std::array<char, INET_ADDRSTRLEN> text{};
        if (query(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size()) != nullptr) {
            ip = text.data();
            port = ntohs(address.sin_port);
        }
    }

    int sock_;
    int stop_fd_;
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// httplib's own connection loop sits out its keep-alive time-out before it notices a stop;
// this one watches the stop signal as well.
class LoopbackServer : public httplib::Server {
  public:
    void stop_connections() { stop_signal_.raise(); }

  private:
    bool process_and_close_socket(socket_t sock) override {
        ConnectionStream stream(sock, stop_signal_.fd());
        bool ok = true;
        bool closed = false;
        while (ok && !closed && stream.wait_for_request()) {
            ok = process_request(stream, false, closed, nullptr);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    StopSignal stop_signal_;
};

}  // namespace

Scenario catalogue_scenario(std::string_view keyword_utf8) {
    SplitMix rng(fnv1a(keyword_utf8));
    const bool demo = keyword_utf8 == demo_keyword;
    const int page_total = demo ? 5 : 1 + rng.below(8);
    Scenario scenario;
    for (int page = 0; page < page_total; ++page) {
        std::vector<std::string> shops;
        for (int i = 0; i < listings_per_page; ++i) {
            shops.push_back(random_shop(rng));
        }
        scenario.pages.push_back(std::move(shops));
    }
    if (demo) {
        scenario.pages[0][6] = demo_shop;
        scenario.pages[2][14] = demo_shop;
        scenario.pages[2][41] = demo_shop;
    }
    return scenario;
}

struct Marketplace::Server {
    LoopbackServer http;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable stopped_changed;
    bool stopped = false;
    std::vector<std::string> log;
    std::map<std::string, std::shared_ptr<const Scenario>> scenarios;
    std::map<std::string, std::string> keywords_by_id;

    std::string host() const { return "127.0.0.1:" + std::to_string(port); }

    std::shared_ptr<const Scenario> scenario_for(const std::string& keyword) {
        std::lock_guard lock(mutex);
        keywords_by_id.emplace(keyword_id(keyword), keyword);
        auto& entry = scenarios[keyword];
        if (!entry) {
            entry = std::make_shared<const Scenario>(catalogue_scenario(keyword));
        }
        return entry;
    }

    std::optional<std::string> keyword_of(const std::string& id) const {
        std::lock_guard lock(mutex);
        const auto found = keywords_by_id.find(id);
        if (found == keywords_by_id.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    // True when the answer should still be given: a stop cuts the stall short.
    bool stall() {
        std::unique_lock lock(mutex);
        return !stopped_changed.wait_for(lock, stall_time, [this] { return stopped; });
    }

    // Answers request `number` with `body`, or with its fault.
    void answer(const Scenario& scenario, int number, httplib::Response& response,
                std::string body) {
        const auto found = scenario.faults.find(number);
        const Fault fault = found == scenario.faults.end() ? Fault::none : found->second;
        switch (fault) {
            case Fault::http403:
                response.status = 403;
                response.set_content("<html><body>403 Forbidden</body></html>", html_type);
                return;
            case Fault::http500:
                response.status = 500;
                response.set_content("<html><body>500 Internal Server Error</body></html>",
                                     html_type);
                return;
            case Fault::reset: {
                // Promise the whole body and a little more, send half, then give up: the
                // server closes the connection with the body incomplete.
                const std::size_t promised = body.size() + 64;
                auto sent = std::make_shared<std::string>(body.substr(0, body.size() / 2));
                response.set_content_provider(
                    promised, html_type,
                    [sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        if (offset == 0 && !sent->empty()) {
                            sink.write(sent->data(), sent->size());
                            return true;
                        }
                        return false;
                    });
                return;
            }
            case Fault::stall:
                if (!stall()) {
                    response.status = 503;
                    return;
                }
                break;
            case Fault::none:
                break;
        }
        response.set_content(std::move(body), html_type);
    }

    void serve_search(const httplib::Request& request, httplib::Response& response) {
        const auto keyword = search_keyword(request.target);
        if (!keyword) {
            response.set_content(page_head("搜索") +
                                     "</head><body><p>请求参数有误，请返回重新搜索。</p>"
                                     "</body></html>\n",
                                 html_type);
            return;
        }
        const auto scenario = scenario_for(*keyword);
        const std::string id = keyword_id(*keyword);
        const std::string list = "http://" + host() + "/list/" + id + "/";
        const std::string title = html_escape(*keyword);
        std::string body = page_head(title + " - 商品搜索");
        // The page holds no other "\"/>", so a link closing with " />" matches nothing.
        switch (scenario->canonical) {
            case CanonicalLink::normal:
                body += "<link rel=\"canonical\" href=\"" + list + "1-60.html\"/>\n";
                break;
            case CanonicalLink::spaced_close:
                body += "<link rel=\"canonical\" href=\"" + list + "1-60.html\" />\n";
                break;
            case CanonicalLink::no_marker:
                body += "<link rel=\"canonical\" href=\"" + list + "first-60.html\"/>\n";
                break;
            case CanonicalLink::missing:
                break;
        }
        body += "</head><body>\n<div class=\"search\">搜索“" + title +
                "”的结果，正在为您跳转到商品列表……</div>\n</body></html>\n";
        if (scenario->needs_cookie) {
            response.set_header("Set-Cookie", "zsid=" + cookie_value(*keyword) + "; path=/");
        }
        answer(*scenario, 0, response, std::move(body));
    }

    std::string result_page(const std::string& keyword, const std::string& id,
                            const Scenario& scenario, int page, bool show_listings) const {
        std::string body =
            page_head(html_escape(keyword) + " - 第" + std::to_string(page) + "页 - 商品列表");
        body += "</head><body>\n<div class=\"crumb\">“" + html_escape(keyword) +
                "”的相关宝贝</div>\n<ul class=\"list\">\n";
        const bool real_page = page <= static_cast<int>(scenario.pages.size());
        if (show_listings && real_page) {
            const auto& shops = scenario.pages[static_cast<std::size_t>(page - 1)];
            const std::uint64_t seed = fnv1a(id) ^ static_cast<std::uint64_t>(page);
            for (std::size_t i = 0; i < shops.size(); ++i) {
                body += listing_html(shops[i], seed * 131 + i);
            }
        } else {
            body += empty_listing();
        }
        body += "</ul>\n";
        if (page == 1 && scenario.show_pagination) {
            std::vector<std::string> values = scenario.pagination;
            if (values.empty()) {
                for (std::size_t k = 1; k <= scenario.pages.size(); ++k) {
                    values.push_back(std::to_string(k));
                }
            }
            body += "<div class=\"pages\">";
            for (const auto& value : values) {
                const auto k = page_named(value);
                const std::string href =
                    k ? "/list/" + id + "/" + page_start(*k) + "-60.html" : std::string("#");
                body +=
                    "<a class=\"pg\" href=\"" + href + "\" pos=\"" + value + "\">" + value + "</a>";
            }
            body += "</div>\n";
        }
        body += "</body></html>\n";
        return body;
    }

    void serve_list(const httplib::Request& request, httplib::Response& response) {
        // "/list/<id>/<S>-60.html" or, behind a redirect, "/real/<id>/<S>-60.html".
        const std::string_view path = request.path;
        const bool real = path.starts_with("/real/");
        if (!real && !path.starts_with("/list/")) {
            response.status = 404;
            return;
        }
        const auto rest = path.substr(6);
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos) {
            response.status = 404;
            return;
        }
        const std::string id(rest.substr(0, slash));
        const auto file = rest.substr(slash + 1);
        const auto keyword = keyword_of(id);
        if (!keyword || !file.ends_with("-60.html")) {
            response.status = 404;
            return;
        }
        const auto scenario = scenario_for(*keyword);
        const auto start = file.substr(0, file.size() - 8);
        std::optional<int> page = page_number(start);
        if (scenario->canonical == CanonicalLink::no_marker && start == "first") {
            page = 1;
        }
        if (!page || (real && !scenario->redirect)) {
            response.status = 404;
            return;
        }
        // The page itself lives under /real/; only the address the job builds redirects.
        if (scenario->redirect && !real) {
            response.set_redirect("http://" + host() + "/real/" + id + "/" + std::string(file));
            return;
        }
        const bool show =
            !scenario->needs_cookie || has_cookie(request, "zsid=" + cookie_value(*keyword));
        answer(*scenario, *page, response, result_page(*keyword, id, *scenario, *page, show));
    }
};

Marketplace::Marketplace(int port) : server_(std::make_unique<Server>()) {
    auto& s = *server_;
    // Headers and body go out in separate writes; without this each answer waits on a delayed ACK.
    s.http.set_tcp_nodelay(true);
    s.http.set_pre_routing_handler([&s](const httplib::Request& request, httplib::Response&) {
        std::lock_guard lock(s.mutex);
        s.log.push_back(request.target);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.http.Get("/comm_search", [&s](const httplib::Request& request, httplib::Response& response) {
        s.serve_search(request, response);
    });
    s.http.Get("/(list|real)/.*",
               [&s](const httplib::Request& request, httplib::Response& response) {
                   s.serve_list(request, response);
               });
    if (port == 0) {
        s.port = s.http.bind_to_any_port("127.0.0.1");
    } else if (s.http.bind_to_port("127.0.0.1", port)) {
        s.port = port;
    } else {
        s.port = -1;
    }
    if (s.port <= 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    s.thread = std::thread([&s] { s.http.listen_after_bind(); });
    // A stop() before the listener runs would be lost, so the constructor waits for it.
    while (!s.http.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Marketplace::~Marketplace() {
    stop();
    server_->thread.join();
}

void Marketplace::add_scenario(std::string keyword_utf8, Scenario scenario) {
    std::lock_guard lock(server_->mutex);
    server_->keywords_by_id.emplace(keyword_id(keyword_utf8), keyword_utf8);
    server_->scenarios[std::move(keyword_utf8)] =
        std::make_shared<const Scenario>(std::move(scenario));
}

int Marketplace::port() const {
    return server_->port;
}

std::string Marketplace::host() const {
    return server_->host();
}

std::vector<std::string> Marketplace::requests() const {
    std::lock_guard lock(server_->mutex);
    return server_->log;
}

void Marketplace::wait() {
    std::unique_lock lock(server_->mutex);
    server_->stopped_changed.wait(lock, [this] { return server_->stopped; });
}

void Marketplace::stop() {
    {
        // Once is enough; the destructor's call after an explicit stop() has nothing to do.
        std::lock_guard lock(server_->mutex);
        if (server_->stopped) {
            return;
        }
        server_->stopped = true;
    }
    server_->stopped_changed.notify_all();
    server_->http.stop_connections();
    server_->http.stop();
}

}  // namespace zerano
