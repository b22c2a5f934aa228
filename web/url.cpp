#include "web/url.h"

#include <limits>

#include "text/text_ops.h"
#include "web/cookie_text.h"

namespace zerano {
namespace {

constexpr std::string_view plain_scheme = "http://";
constexpr std::string_view secure_scheme = "https://";

bool starts_secure(std::string_view url) {
    return lowercased(left_part(url, 5)) == "https";
}

// Leading spaces and a sign allowed, digits up to the first other byte; saturates instead of
// overflowing, so that a long digit run still reads as an unusable port.
int leading_integer(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<int>::max()) {
            value = std::numeric_limits<int>::max();
        }
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace

std::string url_host(std::string_view url, bool keep_port) {
    std::string copy = lowercased(url);
    if (copy.empty() || copy.back() != '/') {
        copy += '/';
    }
    std::string host;
    if (left_part(copy, 8) == secure_scheme) {
        host = text_between(copy, secure_scheme, "/");
    } else {
        if (find_position(copy, plain_scheme) == -1) {
            copy.insert(0, plain_scheme);
        }
        host = text_between(copy, plain_scheme, "/");
    }
    if (!keep_port) {
        const int colon = find_position(host, ":");
        if (colon != -1) {
            host.resize(colon - 1);
        }
    }
    return host;
}

int url_port(std::string_view url) {
    const std::string host = url_host(url, true);
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        return leading_integer(std::string_view(host).substr(colon + 1));
    }
    return starts_secure(url) ? 443 : 80;
}

std::string url_path(std::string_view url) {
    const std::string host = url_host(url);
    // The host is looked for after a leading scheme, so that a host such as "h" or "tp" is not
    // found inside the scheme itself.
    const std::string lowered = lowercased(left_part(url, 8));
    int from = 1;
    if (lowered == secure_scheme) {
        from = 9;
    } else if (left_part(lowered, 7) == plain_scheme) {
        from = 8;
    }
    const int slash = find_position(url, "/", find_position(url, host, from, true));
    return slash == -1 ? std::string("/") : std::string(url.substr(slash - 1));
}

}  // namespace zerano
