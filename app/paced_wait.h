// The pause between a search's requests.
#pragma once

#include <stop_token>

namespace zerano {

// Holds the calling thread for `ms` milliseconds (none when `ms` <= 0); returns at once when
// stop is requested.
void paced_wait(int ms, std::stop_token stop);

}  // namespace zerano
