// A window for the job's tests: boxes set by the test, everything the job does recorded.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/paced_wait.h"
#include "search/job_window.h"
#include "text/code_page.h"

namespace zerano::testing {

class RecordingWindow : public JobWindow {
  public:
    // Box texts in UTF-8, as a person types them.
    RecordingWindow(std::string keyword, std::string qq, std::string interval = "0")
        : keyword_(utf8_to_gbk_exact(keyword).value()),
          qq_(std::move(qq)),
          interval_(std::move(interval)) {}

    // Pauses are recorded and skipped unless real waits are asked for.
    bool real_waits = false;

    std::string keyword_text() override { return keyword_; }
    std::string qq_text() override { return qq_; }
    std::string interval_text() override { return interval_; }

    void set_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_.clear();
        ++log_resets_;
        if (!text.empty()) {
            lines_.push_back(gbk_to_utf8(text));
        }
    }
    void append_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(gbk_to_utf8(text));
    }
    void set_progress_minimum(int value) override { record_progress("min", value); }
    void set_progress_maximum(int value) override { record_progress("max", value); }
    void set_progress_position(int value) override { record_progress("pos", value); }
    void show_message(std::string_view text, std::string_view caption) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(gbk_to_utf8(caption) + " " + gbk_to_utf8(text));
    }
    void paced_wait(int ms, std::stop_token stop) override {
        {
            std::lock_guard lock(mutex_);
            pauses_.push_back(ms);
        }
        if (real_waits) {
            zerano::paced_wait(ms, stop);
        }
    }

    // The log lines in UTF-8, each with its own "\r\n".
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    std::vector<int> pauses() const {
        std::lock_guard lock(mutex_);
        return pauses_;
    }
    int log_resets() const {
        std::lock_guard lock(mutex_);
        return log_resets_;
    }

  private:
    void record_progress(const char* what, int value) {
        std::lock_guard lock(mutex_);
        progress_.push_back(std::string(what) + " " + std::to_string(value));
    }

    const std::string keyword_;
    const std::string qq_;
    const std::string interval_;

    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> messages_;
    std::vector<std::string> progress_;
    std::vector<int> pauses_;
    int log_resets_ = 0;
};

}  // namespace zerano::testing
