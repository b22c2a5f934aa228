// zerano-marketplace: serves the catalogue and the demo case on 127.0.0.1 until SIGINT/SIGTERM.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <thread>

#include "tools/marketplace.h"

namespace {

constexpr const char* usage =
    "usage: zerano-marketplace [--port N]\n"
    "Serves a local marketplace on 127.0.0.1:N (default 8960; 0 picks a free port).\n";

bool parse_port(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 65535) {
        return false;
    }
    port = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 8960;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--port" && i + 1 < argc && parse_port(argv[i + 1], port)) {
            ++i;
            continue;
        }
        std::fputs(usage, stderr);
        return 2;
    }

    // Blocked before any thread starts, so every server thread inherits the mask and the
    // signals reach only the waiter below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        zerano::Marketplace marketplace(port);
        std::thread waiter([&marketplace, &signals] {
            int received = 0;
            sigwait(&signals, &received);
            marketplace.stop();
        });
        std::printf("listening on %s\n", marketplace.host().c_str());
        std::fflush(stdout);
        marketplace.wait();
        waiter.join();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zerano-marketplace: %s\n", error.what());
        return 1;
    }
    return 0;
}
