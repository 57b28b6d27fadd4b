// Character-level views of UTF-8 text: counting, cutting, trimming, and repairing what outside programs print.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cellkit {

// True for a byte that does not start a character (a continuation byte).
inline bool is_utf8_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

// Number of characters; a stray continuation byte counts with the character before it.
inline std::size_t utf8_length(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += is_utf8_continuation(c) ? 0 : 1;
    return n;
}

// The first `chars` characters of `text` (all of it when shorter).
inline std::string_view utf8_prefix(std::string_view text, std::size_t chars) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if (!is_utf8_continuation(text[end]) && seen++ == chars) break;
    }
    return text.substr(0, end);
}

// `bytes` with every ill-formed sequence replaced by U+FFFD, one per maximal
// ill-formed part (the Unicode recommendation), so output is always valid.
std::string utf8_lossy(std::string_view bytes);

// `text` (valid UTF-8) without the Unicode white space at either end.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace cellkit
