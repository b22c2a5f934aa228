#include "text/code_page.h"

#include <iconv.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "text/cp936_tables.h"
#include "text/utf8_decoder.h"

namespace zerano {
namespace cp936 {
namespace {

class Iconv {
  public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("no converter from ") + from + " to " + to);
        }
    }
    ~Iconv() { iconv_close(handle_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts the whole of `in` into `out`; the byte count written, or -1 when rejected.
    int convert(std::string_view in, char* out, std::size_t room) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* in_at = const_cast<char*>(in.data());
        std::size_t in_left = in.size();
        char* out_at = out;
        std::size_t out_left = room;
        if (iconv(handle_, &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1) ||
            in_left != 0) {
            return -1;
        }
        return static_cast<int>(room - out_left);
    }

  private:
    iconv_t handle_;
};

// Windows' table beyond glibc's: the user-defined areas in private-use order, and 0xFF.
char16_t user_defined_unit(unsigned lead, unsigned trail) {
    if (trail >= 0xA1 && trail <= 0xFE) {
        if (lead >= 0xAA && lead <= 0xAF) {
            return static_cast<char16_t>(0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1));
        }
        if (lead >= 0xF8 && lead <= 0xFE) {
            return static_cast<char16_t>(0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1));
        }
    }
    if ((lead == 0xA1 || lead == 0xA2) && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F) {
        const unsigned column = trail < 0x7F ? trail - 0x40 : trail - 0x41;
        return static_cast<char16_t>(0xE4C6 + (lead - 0xA1) * 96 + column);
    }
    return 0;
}

constexpr char16_t lone_ff_unit = 0xF8F5;

std::unique_ptr<const Tables> build_tables() {
    auto tables = std::make_unique<Tables>();
    tables->pair_to_unit.fill(0);
    tables->high_byte_to_unit.fill(0);
    tables->unit_to_code.fill(0);

    Iconv decoder("UTF-16LE", "CP936");
    unsigned char units[8];
    auto decode = [&](std::string_view bytes) -> char16_t {
        if (decoder.convert(bytes, reinterpret_cast<char*>(units), sizeof units) != 2) {
            return 0;
        }
        return static_cast<char16_t>(units[0] | units[1] << 8);
    };

    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (!is_trail_byte(static_cast<unsigned char>(trail))) {
                continue;
            }
            const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char16_t unit = decode(std::string_view(bytes, 2));
            if (unit == 0) {
                unit = user_defined_unit(lead, trail);
            }
            const unsigned code = lead << 8 | trail;
            tables->pair_to_unit[code] = unit;
            if (unit != 0) {
                tables->unit_to_code[unit] = static_cast<std::uint16_t>(code);
            }
        }
    }
    for (const unsigned byte : {0x80u, 0xFFu}) {
        const char single = static_cast<char>(byte);
        char16_t unit = decode(std::string_view(&single, 1));
        if (byte == 0xFF && unit == 0) {
            unit = lone_ff_unit;
        }
        tables->high_byte_to_unit[byte - 0x80] = unit;
        if (unit != 0) {
            tables->unit_to_code[unit] = static_cast<std::uint16_t>(byte);
        }
    }
    return tables;
}

}  // namespace

const Tables& tables() {
    static const std::unique_ptr<const Tables> built = build_tables();
    return *built;
}

}  // namespace cp936

namespace {

bool is_high_surrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Eight ASCII bytes as eight UTF-16 units, spread in two 64-bit words.
void widen_ascii(std::uint64_t word, char16_t* out) {
    auto spread = [](std::uint64_t half) {
        half = (half | half << 16) & 0x0000FFFF0000FFFFULL;
        return (half | half << 8) & 0x00FF00FF00FF00FFULL;
    };
    static_assert(std::endian::native == std::endian::little);
    const std::uint64_t low = spread(word & 0xFFFFFFFF);
    const std::uint64_t high = spread(word >> 32);
    std::memcpy(out, &low, sizeof low);
    std::memcpy(out + 4, &high, sizeof high);
}

void put_utf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

// A lead byte followed by a trail byte is one character, or the default unit when the pair has
// none; a lead byte with anything else after it (or nothing) is the default unit alone, and the
// next byte is read afresh, so a stray lead byte never hides the markup behind it.
std::u16string gbk_to_utf16(std::string_view text) {
    const cp936::Tables& table = cp936::tables();
    std::u16string units(text.size(), u'\0');
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = in + text.size();
    char16_t* out = units.data();
    while (in < end) {
        while (end - in >= 8) {
            const std::uint64_t word = utf8::load8(in);
            if (!utf8::all_ascii(word)) {
                break;
            }
            widen_ascii(word, out);
            in += 8;
            out += 8;
        }
        if (in == end) {
            break;
        }
        const unsigned char byte = *in++;
        if (byte < 0x80) {
            *out++ = byte;
        } else if (!cp936::is_lead_byte(byte)) {
            *out++ = table.high_byte_to_unit[byte - 0x80];
        } else if (in < end && cp936::is_trail_byte(*in)) {
            const char16_t unit = table.pair_to_unit[byte << 8 | *in++];
            *out++ = unit != 0 ? unit : cp936::default_unit;
        } else {
            *out++ = cp936::default_unit;
        }
    }
    units.resize(static_cast<std::size_t>(out - units.data()));
    return units;
}

// A character outside code page 936 is one "?", also when it takes a surrogate pair.
std::string utf16_to_gbk(std::u16string_view units) {
    const cp936::Tables& table = cp936::tables();
    std::string text(units.size() * 2, '\0');
    char* out = text.data();
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            *out++ = static_cast<char>(unit);
            continue;
        }
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            ++i;
        }
        const std::uint16_t code = table.unit_to_code[unit];
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

std::u16string utf8_to_utf16(std::string_view bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = in + bytes.size();
    while (in < end) {
        const char32_t code = utf8::decode(in, end);
        if (code < 0x10000) {
            units += static_cast<char16_t>(code);
        } else {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return units;
}

// An unpaired surrogate has no UTF-8 form and becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view units) {
    std::string bytes;
    bytes.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            put_utf8(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00), bytes);
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            put_utf8(utf8::replacement, bytes);
        } else {
            put_utf8(unit, bytes);
        }
    }
    return bytes;
}

std::string gbk_to_utf8(std::string_view text) {
    return utf16_to_utf8(gbk_to_utf16(text));
}

// Malformed UTF-8 decodes to U+FFFD, which has no code, so it is refused with the rest; so is
// the zero character, which no text can hold.
std::optional<std::string> utf8_to_gbk_exact(std::string_view utf8) {
    const cp936::Tables& table = cp936::tables();
    std::string text;
    text.reserve(utf8.size());
    const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* const end = in + utf8.size();
    while (in < end) {
        const char32_t code = utf8::decode(in, end);
        if (code == 0) {
            return std::nullopt;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
            continue;
        }
        const std::uint16_t gbk = table.code_for(code);
        if (gbk == 0) {
            return std::nullopt;
        }
        if (gbk >= 0x100) {
            text += static_cast<char>(gbk >> 8);
        }
        text += static_cast<char>(gbk & 0xFF);
    }
    return text;
}

}  // namespace zerano
