#include "tests/web/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <stdexcept>

namespace zerano::test {
namespace {

constexpr int wait_milliseconds = 20;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A socket bound to 127.0.0.1 on a free port, listening with the given queue length.
int loopback_listener(int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Waits for the socket to become ready; false when the stop came first.
bool wait_for(int fd, short events, const std::stop_token& stop) {
    pollfd entry{fd, events, 0};
    while (!stop.stop_requested()) {
        if (::poll(&entry, 1, wait_milliseconds) > 0) {
            return true;
        }
    }
    return false;
}

bool send_all(int fd, std::string_view bytes, const std::stop_token& stop) {
    while (!bytes.empty()) {
        if (!wait_for(fd, POLLOUT, stop)) {
            return false;
        }
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::size_t content_length(std::string_view head) {
    const std::string lowered = lower(head);
    const std::size_t at = lowered.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::stoul(lowered.substr(at + 17));
}

}  // namespace

std::string SeenRequest::header_lines() const {
    const std::size_t line_end = head.find("\r\n");
    if (line_end == std::string::npos || head.size() < line_end + 4) {
        return {};
    }
    return head.substr(line_end + 2, head.size() - line_end - 4);
}

std::vector<std::string> SeenRequest::values(std::string_view name) const {
    std::vector<std::string> found;
    const std::string lines = header_lines();
    const std::string prefix = lower(name) + ":";
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find("\r\n", at);
        const std::string line = lines.substr(at, end - at);
        if (lower(line).starts_with(prefix)) {
            const std::size_t value = line.find_first_not_of(' ', prefix.size());
            found.push_back(value == std::string::npos ? "" : line.substr(value));
        }
        at = end + 2;
    }
    return found;
}

std::string reply(std::string_view status, std::string_view headers, std::string_view body) {
    std::string bytes = "HTTP/1.1 ";
    bytes += status;
    bytes += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    bytes += headers;
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

LoopbackServer::LoopbackServer(Handler handler)
    : handler_(std::move(handler)),
      listener_(loopback_listener(16, port_)),
      acceptor_([this](std::stop_token stop) { serve(stop); }) {}

LoopbackServer::~LoopbackServer() {
    acceptor_.request_stop();
    acceptor_.join();
    for (std::jthread& talker : talkers_) {
        talker.request_stop();
    }
    talkers_.clear();
    ::close(listener_);
}

std::string LoopbackServer::address(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<SeenRequest> LoopbackServer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

SeenRequest LoopbackServer::last_request() const {
    const std::lock_guard lock(mutex_);
    return requests_.empty() ? SeenRequest{} : requests_.back();
}

int LoopbackServer::connections() const {
    const std::lock_guard lock(mutex_);
    return connections_;
}

void LoopbackServer::serve(std::stop_token stop) {
    while (wait_for(listener_, POLLIN, stop)) {
        const int socket = ::accept(listener_, nullptr, nullptr);
        if (socket < 0) {
            continue;
        }
        int connection = 0;
        {
            const std::lock_guard lock(mutex_);
            connection = ++connections_;
        }
        talkers_.emplace_back(
            [this, socket, connection](std::stop_token own) { talk(socket, connection, own); });
    }
}

void LoopbackServer::talk(int socket, int connection, std::stop_token stop) {
    std::string pending;
    char buffer[65536];
    bool open = true;
    while (open) {
        std::size_t head_end = pending.find("\r\n\r\n");
        // Bytes that cannot start a request (a TLS greeting, say) are kept as they came.
        const bool foreign =
            !pending.empty() && !std::isupper(static_cast<unsigned char>(pending[0]));
        std::size_t needed = 0;
        if (head_end != std::string::npos) {
            needed = head_end + 4 + content_length(pending.substr(0, head_end + 2));
        }
        if (foreign || (head_end != std::string::npos && pending.size() >= needed)) {
            SeenRequest seen;
            seen.connection = connection;
            if (foreign) {
                seen.head = pending;
            } else {
                seen.head = pending.substr(0, head_end + 4);
                seen.body = pending.substr(head_end + 4, needed - head_end - 4);
                pending.erase(0, needed);
            }
            {
                const std::lock_guard lock(mutex_);
                requests_.push_back(seen);
            }
            if (foreign) {
                break;
            }
            const Answer answer = handler_(seen);
            open = send_all(socket, answer.bytes, stop) &&
                   lower(answer.bytes.substr(0, answer.bytes.find("\r\n\r\n")))
                           .find("\r\nconnection: close") == std::string::npos;
            if (answer.hold) {
                while (!stop.stop_requested()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(wait_milliseconds));
                }
                open = false;
            }
            continue;
        }
        if (!wait_for(socket, POLLIN, stop)) {
            break;
        }
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(socket);
}

UnansweredPort::UnansweredPort() : listener_(loopback_listener(0, port_)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    // With the queue of length 0 full, the kernel drops further connection requests unanswered.
    for (int i = 0; i < 3; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
        ::fcntl(filler, F_SETFL, O_NONBLOCK);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers_.push_back(filler);
    }
    pollfd first{fillers_.front(), POLLOUT, 0};
    ::poll(&first, 1, 1000);
}

UnansweredPort::~UnansweredPort() {
    for (const int filler : fillers_) {
        ::close(filler);
    }
    ::close(listener_);
}

int closed_port() {
    int port = 0;
    const int fd = loopback_listener(1, port);
    ::close(fd);
    return port;
}

}  // namespace zerano::test
