#include "app/paced_wait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zerano {

void paced_wait(int ms, std::stop_token stop) {
    if (ms <= 0) {
        return;
    }
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
}

}  // namespace zerano
