// Page decoding over arbitrary bodies: the fast path must agree with the step-by-step
// conversion, and its result must be a text that code page 936 reads back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/code_page.h"
#include "text/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const std::string text = zerano::utf8_to_ansi(body);

    if (text.find('\0') != std::string::npos || text.size() > body.size()) {
        std::abort();
    }
    const auto plain_ascii = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    };
    if (std::all_of(body.begin(), body.end(), plain_ascii) && text != body) {
        std::abort();
    }
    std::string step_by_step = zerano::utf16_to_gbk(zerano::utf8_to_utf16(body));
    std::erase(step_by_step, '\0');
    if (text != step_by_step) {
        std::abort();
    }
    if (zerano::utf16_to_gbk(zerano::gbk_to_utf16(text)) != text) {
        std::abort();
    }
    return 0;
}
