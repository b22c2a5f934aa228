#include <pthread.h>
#include <signal.h>

#include <ctime>
#include <iostream>
#include <stop_token>
#include <thread>

#include "cli/cli.h"

namespace {

// SIGINT and SIGTERM are taken by a thread of their own and turned into a stop request, so
// that the search ends at once with no line after the signal.
std::jthread watch_signals(std::stop_source search) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return std::jthread([signals, search](std::stop_token done) mutable {
        const timespec tick{0, 50'000'000};
        while (!done.stop_requested()) {
            if (sigtimedwait(&signals, nullptr, &tick) > 0) {
                search.request_stop();
                return;
            }
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::stop_source stop;
    const std::jthread watcher = watch_signals(stop);
    return zerano::run({argv + 1, argv + argc}, std::cout, std::cerr, stop.get_token());
}
