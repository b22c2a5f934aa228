// Page decoding on a generated result page of the marketplace's shape: about 300 KB of HTML
// markup, 60 listings with Chinese titles, listing numbers in single quotes.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/code_page.h"
#include "text/encoding.h"

namespace {

constexpr std::size_t page_size = 300 * 1024;

const char* const titles[] = {
    "\xE5\x8D\x8E\xE4\xB8\xBA\xE6\x89\x8B\xE6\x9C\xBA \xE5\x85\xA8\xE7\xBD\x91\xE9\x80\x9A "
    "\xE5\x8F\x8C\xE5\x8D\xA1\xE5\x8F\x8C\xE5\xBE\x85",  // 华为手机 全网通 双卡双待
    "\xE6\x96\xB0\xE6\xAC\xBE\xE8\xBF\x9E\xE8\xA1\xA3\xE8\xA3\x99 \xE5\xA4\x8F\xE5\xAD\xA3 "
    "\xE5\xA5\xB3\xE8\xA3\x85",  // 新款连衣裙 夏季 女装
    "\xE6\x97\x97\xE8\x88\xB0\xE5\xBA\x97 \xE6\xAD\xA3\xE5\x93\x81\xE4\xBF\x9D\xE8\xAF\x81 "
    "\xE5\x8C\x85\xE9\x82\xAE",  // 旗舰店 正品保证 包邮
};

std::string listing(int n) {
    const std::string id = std::to_string(1000000 + n * 7919);
    std::string item;
    item += "<li class=\"list-item\" data-rank=\"" + std::to_string(n) + "\">\n";
    item += "  <div class=\"photo\"><a href=\"//item.example.com/" + id +
            ".html\" target=\"_blank\"><img src=\"//img.example.com/" + id +
            "_200x200.jpg\" width=\"200\" height=\"200\"></a></div>\n";
    item += "  <div class=\"title\"><a href=\"//item.example.com/" + id + ".html\">";
    item += titles[n % 3];
    item += "</a></div>\n  <div class=\"price\">\xC2\xA5" + std::to_string(99 + n) + ".00</div>\n";
    item += "  <script>showItem('" + id + "', '" + std::to_string(88880000 + n % 5) +
            "', 'commodity');</script>\n</li>\n";
    return item;
}

std::string result_page() {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>\xE6\x89\x8B\xE6\x9C\xBA"
        "</title>\n<link rel=\"canonical\" href=\"//search.example.com/s-1-60.html\">\n";
    for (int n = 0; n < 60; ++n) {
        page += listing(n);
    }
    const std::string markup =
        "<div class=\"nav\"><a href=\"/category/1001\" class=\"nav-link\">"
        "\xE6\x95\xB0\xE7\xA0\x81\xE5\xAE\xB6\xE7\x94\xB5</a>"  // 数码家电
        "<span class=\"sep\">|</span></div>\n"
        "<script type=\"text/javascript\">var config = {page: 1, size: 60, sort: 'default'};"
        "</script>\n";
    while (page.size() < page_size) {
        page += markup;
    }
    page.resize(page_size - 15);
    page += "</body></html>\n";
    return page;
}

class Iconv {
  public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("iconv_open");
        }
    }
    ~Iconv() { iconv_close(handle_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool convert(std::string_view in, char* out, std::size_t& out_left) {
        char* in_at = const_cast<char*>(in.data());
        std::size_t in_left = in.size();
        char* out_at = out;
        const std::size_t room = out_left;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        const bool ok =
            iconv(handle_, &in_at, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1);
        out_left = room - out_left;
        return ok && in_left == 0;
    }

  private:
    iconv_t handle_;
};

std::size_t sequence_length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// The plain pipeline: each character through iconv on its own, UTF-8 to UTF-16 to CP936.
std::string iconv_per_character(Iconv& to_utf16, Iconv& to_gbk, std::string_view body) {
    std::string text;
    text.reserve(body.size());
    for (std::size_t i = 0; i < body.size();) {
        const std::size_t length =
            std::min(sequence_length(static_cast<unsigned char>(body[i])), body.size() - i);
        char units[8];
        std::size_t unit_bytes = sizeof units;
        char bytes[8];
        std::size_t byte_count = sizeof bytes;
        if (to_utf16.convert(body.substr(i, length), units, unit_bytes) &&
            to_gbk.convert(std::string_view(units, unit_bytes), bytes, byte_count)) {
            text.append(bytes, byte_count);
            i += length;
        } else {
            text += '?';
            ++i;
        }
    }
    return text;
}

const std::string& page() {
    static const std::string built = result_page();
    return built;
}

void utf8_to_ansi(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(zerano::utf8_to_ansi(page()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page().size()));
    std::size_t high = 0;
    for (const char c : page()) {
        high += static_cast<unsigned char>(c) >= 0x80;
    }
    state.counters["non_ascii_share"] = static_cast<double>(high) / page().size();
}
BENCHMARK(utf8_to_ansi);

void gbk_to_utf16(benchmark::State& state) {
    const std::string text = zerano::utf8_to_ansi(page());
    for (auto _ : state) {
        benchmark::DoNotOptimize(zerano::gbk_to_utf16(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(gbk_to_utf16);

void iconv_per_character_baseline(benchmark::State& state) {
    Iconv to_utf16("UTF-16LE", "UTF-8");
    Iconv to_gbk("CP936", "UTF-16LE");
    for (auto _ : state) {
        benchmark::DoNotOptimize(iconv_per_character(to_utf16, to_gbk, page()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page().size()));
}
BENCHMARK(iconv_per_character_baseline);

}  // namespace

BENCHMARK_MAIN();
