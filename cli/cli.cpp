#include "cli/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <optional>

#include "app/paced_wait.h"
#include "cli/output.h"
#include "search/box_rules.h"
#include "search/rank_search.h"
#include "text/code_page.h"

namespace zerano {
namespace {

constexpr const char* usage =
    "usage: zerano-cli --keyword TEXT [--keyword TEXT ...] --qq NUMBER [--interval MS]\n"
    "                  [--host HOST[:PORT]] [--format log|json|csv]\n"
    "\n"
    "Logs every rank at which a shop's listings stand in the marketplace's results for each\n"
    "keyword, 60 listings to a page. Several keywords are searched one after another.\n"
    "\n"
    "  --keyword TEXT   a search keyword (UTF-8); may be given several times\n"
    "  --qq NUMBER      the shop's QQ number\n"
    "  --interval MS    pause between result pages in milliseconds (default 300)\n"
    "  --host HOST      the marketplace search host (default: $ZERANO_SEARCH_HOST, or the\n"
    "                   build's setting)\n"
    "  --format F       log (default): the log lines; json: one JSON object a search;\n"
    "                   csv: one row a rank found\n"
    "  --help           this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 every search finished, 2 usage error, 3 a search failed (no canonical\n"
    "link or a network error), 130 stopped by SIGINT or SIGTERM.\n";

// The one message of the job when a box is empty.
constexpr const char* enter_first = "请先输入在查询";

struct Options {
    std::vector<std::string> keywords;  // UTF-8, as given
    std::string qq;                     // as the QQ box would hold it
    std::string interval = "300";       // as the interval box would hold it
    std::string host = search_host();
    OutputFormat format = OutputFormat::log;
    bool help = false;
    bool version = false;
};

// Fills `options` from `args`; returns the error to show, or nothing.
std::optional<std::string> parse(const std::vector<std::string>& args, Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return std::nullopt;
        }
        if (name == "--version") {
            options.version = true;
            return std::nullopt;
        }
        if (name != "--keyword" && name != "--qq" && name != "--interval" && name != "--host" &&
            name != "--format") {
            return "unknown argument: " + name;
        }
        if (i + 1 == args.size()) {
            return name + " needs a value";
        }
        const std::string& value = args[++i];
        if (name == "--keyword") {
            options.keywords.push_back(value);
        } else if (name == "--qq") {
            const std::optional<std::string> qq = typed_qq(value);
            if (!qq) {
                return "--qq takes a number of at most " + std::to_string(qq_box_max_length) +
                       " digits: " + value;
            }
            options.qq = *qq;
        } else if (name == "--interval") {
            const std::optional<std::string> interval = typed_interval(value);
            if (!interval) {
                return "--interval takes a whole number of milliseconds: " + value;
            }
            options.interval = *interval;
        } else if (name == "--host") {
            const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
                       c == ':' || c == '[' || c == ']';
            });
            if (value.empty() || !plain) {
                return "--host takes HOST or HOST:PORT: " + value;
            }
            options.host = value;
        } else if (value == "log" || value == "json" || value == "csv") {
            options.format = value == "log"    ? OutputFormat::log
                             : value == "json" ? OutputFormat::json
                                               : OutputFormat::csv;
        } else {
            return "--format takes log, json or csv: " + value;
        }
    }
    return std::nullopt;
}

// The job's window on a terminal: log lines go to `out` as they come (in the log format),
// progress to `err` when it is a terminal.
class TerminalWindow : public JobWindow {
  public:
    TerminalWindow(const Options& options, std::string keyword, std::ostream& out,
                   std::ostream& err, bool show_progress, std::stop_token stop)
        : options_(options),
          keyword_(std::move(keyword)),
          out_(out),
          err_(err),
          show_progress_(show_progress),
          stop_(std::move(stop)) {}

    ~TerminalWindow() override {
        if (drawn_) {
            err_ << "\r\033[K" << std::flush;
        }
    }

    std::string keyword_text() override { return keyword_; }
    std::string qq_text() override { return options_.qq; }
    std::string interval_text() override { return options_.interval; }

    void set_log(std::string_view) override { lines_.clear(); }

    void append_log(std::string_view text) override {
        if (stop_.stop_requested()) {
            return;
        }
        std::string line = gbk_to_utf8(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.starts_with("发现排名")) {
            ++ranks_found_;
        }
        if (options_.format == OutputFormat::log) {
            out_ << line << '\n' << std::flush;
        }
        lines_.push_back(std::move(line));
        draw_progress();
    }

    void set_progress_minimum(int) override {}
    void set_progress_maximum(int value) override { page_total_ = value; }
    void set_progress_position(int value) override {
        page_ = value;
        draw_progress();
    }

    void show_message(std::string_view text, std::string_view) override {
        err_ << gbk_to_utf8(text) << '\n';
    }

    void paced_wait(int ms, std::stop_token stop) override { zerano::paced_wait(ms, stop); }

    const std::vector<std::string>& lines() const { return lines_; }

  private:
    void draw_progress() {
        if (!show_progress_ || page_total_ == 0 || stop_.stop_requested()) {
            return;
        }
        constexpr int width = 30;
        const int filled = static_cast<int>(static_cast<long long>(width) * page_ / page_total_);
        err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] page "
             << page_ << " of " << page_total_ << ", " << ranks_found_ << " ranks found"
             << std::flush;
        drawn_ = true;
    }

    const Options& options_;
    const std::string keyword_;
    std::ostream& out_;
    std::ostream& err_;
    const bool show_progress_;
    const std::stop_token stop_;
    std::vector<std::string> lines_;
    int page_ = 0;
    int page_total_ = 0;
    int ranks_found_ = 0;
    bool drawn_ = false;
};

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::stop_token stop) {
    Options options;
    if (const std::optional<std::string> error = parse(args, options)) {
        err << "zerano-cli: " << *error << "\n\n" << usage;
        return exit_usage;
    }
    if (options.help) {
        out << usage;
        return exit_finished;
    }
    if (options.version) {
        out << "zerano-cli " << ZERANO_VERSION << '\n';
        return exit_finished;
    }
    std::vector<std::string> keywords;  // in code page 936
    for (const std::string& keyword : options.keywords) {
        std::optional<std::string> gbk = utf8_to_gbk_exact(keyword);
        if (!gbk) {
            err << "zerano-cli: the keyword \"" << keyword
                << "\" holds a character that the marketplace's code page (936) cannot hold\n";
            return exit_usage;
        }
        keywords.push_back(std::move(*gbk));
    }
    const bool any_empty = std::any_of(keywords.begin(), keywords.end(),
                                       [](const std::string& k) { return k.empty(); });
    if (keywords.empty() || any_empty || options.qq.empty()) {
        err << enter_first << '\n';
        return exit_usage;
    }

    SharedSearch shared;
    // A progress bar only where a person watches the real standard error.
    const bool show_progress = &err == &std::cerr && isatty(STDERR_FILENO) == 1;
    if (options.format == OutputFormat::csv) {
        out << csv_header() << std::flush;
    }
    int status = exit_finished;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        SearchRecord record;
        record.keyword = options.keywords[i];
        record.qq = options.qq;
        record.checked_at = std::chrono::system_clock::now();
        const auto started = std::chrono::steady_clock::now();
        TerminalWindow window(options, keywords[i], out, err, show_progress, stop);
        record.report = RankSearch(window, shared, options.host, stop);
        record.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        record.log = window.lines();

        if (options.format == OutputFormat::json) {
            out << json_line(record) << std::flush;
        } else if (options.format == OutputFormat::csv &&
                   record.report.outcome != SearchOutcome::stopped) {
            out << csv_rows(record) << std::flush;
        }
        if (record.report.outcome == SearchOutcome::stopped) {
            return exit_stopped;
        }
        if (record.report.outcome != SearchOutcome::finished) {
            status = exit_search_failed;
        }
    }
    return status;
}

}  // namespace zerano
