// Keyword percent-encoding and page decoding.
#pragma once

#include <string>
#include <string_view>

namespace zerano {

enum class CodePage { gbk = 936, utf8 = 65001 };

// Percent-encodes every byte ("%" and two upper-case hex digits); with `keep_safe` the bytes
// - . 0-9 A-Z a-z stand for themselves. With `as_utf8` the code page 936 text is encoded as
// its UTF-8 bytes.
std::string url_encode(std::string_view text, bool keep_safe = false, bool as_utf8 = false);

// Reads `text` in `code_page` as UTF-16, and UTF-16 back into `code_page` text.
std::u16string multibyte_to_wide(std::string_view text, CodePage code_page = CodePage::utf8);
std::string wide_to_multibyte(std::u16string_view units, CodePage code_page = CodePage::gbk);

// A fetched UTF-8 page as code page 936 text. Zero bytes are dropped, so that a stray NUL
// cannot hide the rest of the page.
std::string utf8_to_ansi(std::string_view body);

}  // namespace zerano
