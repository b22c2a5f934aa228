#include <pthread.h>
#include <signal.h>

#include <ctime>
#include <iostream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"

namespace {

// SIGINT and SIGTERM are taken by a thread of their own and turned into a stop request, so
// that the search ends at once with no line after the signal.
class SignalWatch {
public:
    SignalWatch() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        thread_ = std::jthread([this](std::stop_token done) {
            const timespec tick{0, 50'000'000};
            while (!done.stop_requested()) {
                if (sigtimedwait(&signals_, nullptr, &tick) > 0) {
                    search_.request_stop();
                    return;
                }
            }
        });
    }

    std::stop_token token() const { return search_.get_token(); }

private:
    sigset_t signals_{};
    std::stop_source search_;
    std::jthread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const SignalWatch signals;
    return zerano::run(args, std::cout, std::cerr, signals.token());
}
