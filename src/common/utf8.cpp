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

}  // namespace

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
