// The command-line front end: one search a keyword, reported on standard output.
#pragma once

#include <ostream>
#include <stop_token>
#include <string>
#include <vector>

namespace zerano {

inline constexpr int exit_finished = 0;
inline constexpr int exit_usage = 2;
inline constexpr int exit_search_failed = 3;  // no canonical link, or a network error
inline constexpr int exit_stopped = 130;

// `args` without the program name. `stop` ends the running search at once: no line is written
// after it.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::stop_token stop = {});

}  // namespace zerano
