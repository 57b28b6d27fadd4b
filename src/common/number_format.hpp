// Locale-independent number formatting shared by every writer and message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cellkit::fmt {

// Shortest decimal that reads back to the same double, positional notation,
// no decimal point for integral values (16, -0.8476, 0.0000001).
void append_shortest(std::string& out, double value);

// Fixed point with `decimals` digits, rounded from the exact binary value
// (halfway cases to even), right-aligned in at least `width` columns.
void append_fixed(std::string& out, double value, int decimals, int width = 0);

// Unsigned integer in decimal, right-aligned in at least `width` columns.
void append_uint(std::string& out, std::uint64_t value, int width = 0);

// Written at `out` instead of appended, for writers that compose straight into a buffer; each
// returns the end of what it wrote. The caller provides room for max(width, kMaxNumberChars)
// bytes (exponent form with up to 16 decimals).
inline constexpr int kMaxNumberChars = 24;
// One digit, point, `decimals` digits, 'e', exponent without plus sign or leading zeros
// (1.250000e1, -3.000000e-1), right-aligned in `width` columns.
char* write_exponent(char* out, double value, int decimals, int width = 0);
char* write_uint(char* out, std::uint64_t value, int width = 0);

// Number as it appears in message lists and JSON output, shortest round-trip
// digits that never read as an integer: at least one fractional digit in
// [1e-4, 1e16) and for zero (12.0, 0.35), else exponent form (1e-7, 2.5e16).
void append_list_number(std::string& out, double value);

// String in double quotes with backslash escapes for quotes, backslashes and
// control characters.
void append_quoted(std::string& out, std::string_view text);

std::string list_form(const std::vector<double>& values);
std::string list_form(const std::vector<std::string>& values);

std::string shortest(double value);

// Wrapper that makes `cat` write a double with a fixed number of decimals.
struct Fixed {
    double value;
    int decimals;
};

inline void append_piece(std::string& out, std::string_view text) { out.append(text); }
inline void append_piece(std::string& out, const char* text) { out.append(text); }
inline void append_piece(std::string& out, const std::string& text) { out.append(text); }
inline void append_piece(std::string& out, char c) { out.push_back(c); }
inline void append_piece(std::string& out, double value) { append_shortest(out, value); }
inline void append_piece(std::string& out, Fixed f) { append_fixed(out, f.value, f.decimals); }
template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, bool>)
void append_piece(std::string& out, T value) {
    if constexpr (std::is_signed_v<T>) {
        if (value < 0) {
            out.push_back('-');
            append_uint(out, static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value));
            return;
        }
    }
    append_uint(out, static_cast<std::uint64_t>(value));
}

// Concatenates texts and numbers into one message: integers in decimal,
// doubles in shortest form, Fixed with its decimals.
template <typename... Parts>
std::string cat(const Parts&... parts) {
    std::string out;
    (append_piece(out, parts), ...);
    return out;
}

}  // namespace cellkit::fmt
