// ASCII-only text comparison for keywords that the input files may write in any case.
#pragma once

#include <algorithm>
#include <string_view>

namespace cellkit {

// Only A-Z fold; other bytes, UTF-8 included, must match exactly.
inline bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&lower](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace cellkit
