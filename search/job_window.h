// What the rank search job needs of the window it reports to. The Qt window, the command line
// and the tests each implement it; every call comes from the job's own thread.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

namespace zerano {

class JobWindow {
  public:
    virtual ~JobWindow() = default;

    // Copies of the boxes' code page 936 texts.
    virtual std::string keyword_text() = 0;
    virtual std::string qq_text() = 0;
    virtual std::string interval_text() = 0;

    // The log box; each appended text carries its own "\r\n".
    virtual void set_log(std::string_view text) = 0;
    virtual void append_log(std::string_view text) = 0;

    virtual void set_progress_minimum(int value) = 0;
    virtual void set_progress_maximum(int value) = 0;
    virtual void set_progress_position(int value) = 0;

    // Shows a message with one OK button and returns once the user has closed it.
    virtual void show_message(std::string_view text, std::string_view caption) = 0;

    // Holds the job's thread for `ms` milliseconds (none when `ms` <= 0); returns at once on stop.
    virtual void paced_wait(int ms, std::stop_token stop) = 0;
};

}  // namespace zerano
