// Servers on 127.0.0.1 for the web tests: one that answers from a handler and records the exact
// bytes of every request, and one whose connections never complete.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zerano::test {

struct SeenRequest {
    std::string head;    // request line and header lines, up to and including the blank line
    std::string body;    // as many bytes as Content-Length announced
    int connection = 0;  // counts accepted connections from 1

    std::string request_line() const { return head.substr(0, head.find("\r\n")); }
    // Every header line, each ended by "\r\n", without the request line and the blank line.
    std::string header_lines() const;
    // Values of the lines with this name, letter case ignored.
    std::vector<std::string> values(std::string_view name) const;
};

// What goes back: the bytes, then, with `hold`, silence until the server goes. Otherwise the
// connection stays open for the next request unless the bytes hold "Connection: close".
struct Answer {
    std::string bytes;
    bool hold = false;
};
using Handler = std::function<Answer(const SeenRequest&)>;

// A complete answer with the given status line tail ("200 OK"), extra header lines (each ended
// by "\r\n") and body.
std::string reply(std::string_view status, std::string_view headers, std::string_view body);

class LoopbackServer {
  public:
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string address(std::string_view path) const;
    std::vector<SeenRequest> requests() const;
    SeenRequest last_request() const;  // an empty one when none came
    int connections() const;

  private:
    void serve(std::stop_token stop);
    void talk(int socket, int connection, std::stop_token stop);

    Handler handler_;
    int port_ = 0;  // set while the listener is made
    int listener_ = -1;
    mutable std::mutex mutex_;
    std::vector<SeenRequest> requests_;
    int connections_ = 0;
    std::vector<std::jthread> talkers_;
    std::jthread acceptor_;
};

// Listens but never accepts, with its queue already full: a connection attempt stays unanswered.
class UnansweredPort {
  public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    int port() const { return port_; }

  private:
    int port_ = 0;
    int listener_ = -1;
    std::vector<int> fillers_;
};

// A port on 127.0.0.1 on which nothing listens.
int closed_port();

}  // namespace zerano::test
