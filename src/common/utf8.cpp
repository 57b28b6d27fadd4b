#include "common/utf8.hpp"

namespace cellkit {
namespace {

// Length of the well-formed character at the start of `s`, or 0 with
// `bad` set to how many bytes the ill-formed part spans.
std::size_t character_at(std::string_view s, std::size_t& bad) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // allowed range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        len = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        len = 3;
        if (lead == 0xe0) lo = 0xa0;  // overlong
        if (lead == 0xed) hi = 0x9f;  // surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        len = 4;
        if (lead == 0xf0) lo = 0x90;  // overlong
        if (lead == 0xf4) hi = 0x8f;  // beyond U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < len && i < s.size(); ++i) {
        const unsigned char c = b(i);
        if (i == 1 ? (c < lo || c > hi) : !is_utf8_continuation(static_cast<char>(c))) break;
    }
    if (i == len) return len;
    bad = i;
    return 0;
}

// The code point of the valid character that starts at `s[0]`, and its length in `len`.
char32_t decode_at(std::string_view s, std::size_t& len) {
    const auto lead = static_cast<unsigned char>(s[0]);
    len = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
    char32_t code = len == 1 ? lead : lead & (0x7f >> len);
    for (std::size_t i = 1; i < len; ++i) code = (code << 6) | (static_cast<unsigned char>(s[i]) & 0x3f);
    return code;
}

// The White_Space property of Unicode, as programs mean it when they trim output.
bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f || c == 0x205f || c == 0x3000;
}

}  // namespace

std::string_view trim_unicode_space(std::string_view text) {
    std::size_t len = 0;
    while (!text.empty() && is_unicode_space(decode_at(text, len))) text.remove_prefix(len);
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && is_utf8_continuation(text[start])) --start;
        if (!is_unicode_space(decode_at(text.substr(start), len))) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t bad = 0;
        const std::size_t len = character_at(bytes, bad);
        if (len > 0) {
            out.append(bytes.substr(0, len));
            bytes.remove_prefix(len);
        } else {
            out.append("\xef\xbf\xbd");
            bytes.remove_prefix(bad);
        }
    }
    return out;
}

}  // namespace cellkit
