#include "text/encoding.h"

#include <cstddef>
#include <cstring>

#include "text/code_page.h"
#include "text/cp936_tables.h"
#include "text/utf8_decoder.h"

namespace zerano {
namespace {

bool is_safe(unsigned char byte) {
    return byte == '-' || byte == '.' || (byte >= '0' && byte <= '9') ||
           (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

}  // namespace

// The UTF-8 form is as long as the conversion makes it: a keyword such as two euro signs
// (2 bytes, 6 in UTF-8) is encoded whole.
std::string url_encode(std::string_view text, bool keep_safe, bool as_utf8) {
    if (text.empty()) {
        return {};
    }
    const std::string utf8 = as_utf8 ? gbk_to_utf8(text) : std::string();
    const std::string_view bytes = as_utf8 ? std::string_view(utf8) : text;
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (keep_safe && is_safe(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex_digits[byte >> 4];
            encoded += hex_digits[byte & 0x0F];
        }
    }
    return encoded;
}

std::u16string multibyte_to_wide(std::string_view text, CodePage code_page) {
    return code_page == CodePage::utf8 ? utf8_to_utf16(text) : gbk_to_utf16(text);
}

// The result is a text, so it ends where the units reach a zero unit.
std::string wide_to_multibyte(std::u16string_view units, CodePage code_page) {
    units = units.substr(0, units.find(u'\0'));
    return code_page == CodePage::utf8 ? utf16_to_utf8(units) : utf16_to_gbk(units);
}

// No character grows on the way (ill-formed bytes shrink to one "?", three-byte UTF-8 to at
// most two bytes), so the body's size is room enough.
std::string utf8_to_ansi(std::string_view body) {
    const cp936::Tables& table = cp936::tables();
    std::string text(body.size(), '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(body.data());
    const unsigned char* const end = in + body.size();
    char* out = text.data();
    while (in < end) {
        while (end - in >= 16 && utf8::all_ascii_nonzero(utf8::load8(in)) &&
               utf8::all_ascii_nonzero(utf8::load8(in + 8))) {
            std::memcpy(out, in, 16);
            in += 16;
            out += 16;
        }
        if (in == end) {
            break;
        }
        const unsigned char byte = *in;
        if (byte < 0x80) {
            if (byte != 0) {
                *out++ = static_cast<char>(byte);
            }
            ++in;
            continue;
        }
        const std::uint16_t code = table.code_for(utf8::decode(in, end));
        if (code == 0) {
            *out++ = cp936::default_byte;
        } else if (code < 0x100) {
            *out++ = static_cast<char>(code);
        } else {
            *out++ = static_cast<char>(code >> 8);
            *out++ = static_cast<char>(code & 0xFF);
        }
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

}  // namespace zerano
