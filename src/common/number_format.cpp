#include "common/number_format.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace cellkit::fmt {
namespace {

void append_padded(std::string& out, std::string_view text, int width) {
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
        out.append(static_cast<std::size_t>(width) - text.size(), ' ');
    }
    out.append(text);
}

bool append_non_finite(std::string& out, double value) {
    // NaN and infinities print as NaN, inf and -inf in every form.
    if (std::isnan(value)) {
        out.append("NaN");
        return true;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return true;
    }
    return false;
}

// Writes a non-finite value padded to `width`; false for a finite one.
bool append_non_finite_padded(std::string& out, double value, int width) {
    std::string text;
    if (!append_non_finite(text, value)) return false;
    append_padded(out, text, width);
    return true;
}

// Shortest round-trip digits of |value| and the decimal exponent of the first
// digit: value = d0.d1d2... x 10^exponent.
struct Decimal {
    bool negative = false;
    std::array<char, 24> digits{};
    int count = 0;
    int exponent = 0;
};

Decimal shortest_decimal(double value) {
    // to_chars in fixed mode prints the exact binary value from 2^53 on
    // (1e23 -> 99999999999999991611392); the scientific form keeps the digits short.
    std::array<char, 40> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific);
    Decimal d;
    const char* p = buf.data();
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p != '.') d.digits[static_cast<std::size_t>(d.count++)] = *p;
    }
    ++p;  // 'e'
    std::from_chars(*p == '+' ? p + 1 : p, res.ptr, d.exponent);
    return d;
}

void append_positional(std::string& out, const Decimal& d) {
    if (d.negative) out.push_back('-');
    std::string_view digits(d.digits.data(), static_cast<std::size_t>(d.count));
    if (d.exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out.append(digits);
    } else if (d.exponent >= d.count - 1) {
        out.append(digits);
        out.append(static_cast<std::size_t>(d.exponent - (d.count - 1)), '0');
    } else {
        const auto split = static_cast<std::size_t>(d.exponent + 1);
        out.append(digits.substr(0, split));
        out.push_back('.');
        out.append(digits.substr(split));
    }
}

// Spaces before a text of `length` that right-align it in `width` columns; returns where the text
// goes. Up to 16 spaces take one fixed-size store, which the callers' room allows.
char* pad_before(char* out, int length, int width) {
    if (width <= length) return out;
    const auto pad = static_cast<std::size_t>(width - length);
    if (pad <= 16) {
        std::memcpy(out, "                ", 16);
    } else {
        std::memset(out, ' ', pad);
    }
    return out + pad;
}

constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the decimal digits of `value` so that they end at `end`.
void digits_before(char* end, std::uint64_t value) {
    while (value >= 100) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * (value % 100)], 2);
        value /= 100;
    }
    if (value >= 10) {
        std::memcpy(end - 2, &digit_pairs[2 * value], 2);
    } else {
        end[-1] = static_cast<char>('0' + value);
    }
}

constexpr std::array<std::uint64_t, 20> uint_powers_of_ten = [] {
    std::array<std::uint64_t, 20> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
}();

// Number of decimal digits, 1 for zero.
int decimal_length(std::uint64_t value) {
    value |= 1;                                                 // crosses no power of ten, and zero has one digit
    const int estimate = (std::bit_width(value) * 1233) >> 12;  // log10 by way of log2
    return estimate + (value >= uint_powers_of_ten[static_cast<std::size_t>(estimate)]);
}

char* write_padded(char* out, std::string_view text, int width) {
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
        const auto pad = static_cast<std::size_t>(width) - text.size();
        std::memset(out, ' ', pad);
        out += pad;
    }
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The exponent form through the standard library, its "e+01" rewritten as "e1": the reference for
// the values that round_significant leaves alone. Writes into `buf` (48 bytes).
std::string_view exponent_by_library(char* buf, double value, int decimals) {
    std::array<char, 48> raw{};
    auto res = std::to_chars(raw.data(), raw.data() + raw.size(), value, std::chars_format::scientific, decimals);
    std::size_t len = 0;
    const char* p = raw.data();
    for (; p < res.ptr && *p != 'e'; ++p) buf[len++] = *p;
    buf[len++] = 'e';
    ++p;
    if (*p == '-') buf[len++] = '-';
    if (*p == '-' || *p == '+') ++p;
    while (p + 1 < res.ptr && *p == '0') ++p;
    for (; p < res.ptr; ++p) buf[len++] = *p;
    return {buf, len};
}

__extension__ using Uint128 = unsigned __int128;

constexpr std::array<Uint128, 23> powers_of_ten = [] {
    std::array<Uint128, 23> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
}();

// |value| rounded to `count` significant digits from its exact binary value, halfway cases to
// even: |value| ~ digits x 10^(exponent - count + 1). Exact 128-bit integer arithmetic, several
// times faster than the library's general path, which stays for what this leaves out (false):
// zero, subnormals, non-finite values, magnitudes from 2^52 up or below about 1e-16.
bool round_significant(double value, int count, std::uint64_t& digits, int& exponent) {
    if (count < 1 || count > 17) return false;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0 || biased == 0x7ff) return false;
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - biased;  // |value| = mantissa / 2^shift
    if (shift <= 0 || shift > 127) return false;
    // floor(log10(2^(52 - shift))): the decimal exponent, or one less than it.
    const int estimate = ((52 - shift) * 78913) >> 18;
    const auto lower = static_cast<std::uint64_t>(powers_of_ten[static_cast<std::size_t>(count - 1)]);
    const auto upper = static_cast<std::uint64_t>(powers_of_ten[static_cast<std::size_t>(count)]);
    for (int e = estimate; e <= estimate + 1; ++e) {
        const int scale = count - 1 - e;  // |value| x 10^scale has `count` digits before the point
        if (scale < 0 || scale >= static_cast<int>(powers_of_ten.size())) return false;
        const Uint128 scaled = Uint128{mantissa} * powers_of_ten[static_cast<std::size_t>(scale)];
        const Uint128 whole = scaled >> shift;
        if (whole >= upper) continue;
        if (whole < lower) return false;
        const Uint128 rest = scaled & ((Uint128{1} << shift) - 1);
        const Uint128 half = Uint128{1} << (shift - 1);
        auto q = static_cast<std::uint64_t>(whole);
        if (rest > half || (rest == half && (q & 1) != 0)) ++q;
        if (q == upper) {  // 9.9999995 -> 1.000000e1
            q = lower;
            ++e;
        }
        digits = q;
        exponent = e;
        return true;
    }
    return false;
}

}  // namespace

void append_shortest(std::string& out, double value) {
    if (append_non_finite(out, value)) return;
    append_positional(out, shortest_decimal(value));
}

void append_fixed(std::string& out, double value, int decimals, int width) {
    if (append_non_finite_padded(out, value, width)) return;
    std::array<char, 400> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (res.ec != std::errc{}) {  // beyond the buffer: only for absurd magnitudes
        std::string text;
        append_shortest(text, value);
        append_padded(out, text, width);
        return;
    }
    append_padded(out, std::string_view(buf.data(), static_cast<std::size_t>(res.ptr - buf.data())), width);
}

void append_uint(std::string& out, std::uint64_t value, int width) {
    std::array<char, 24> buf;
    char* end = write_uint(buf.data(), value, 0);
    append_padded(out, std::string_view(buf.data(), static_cast<std::size_t>(end - buf.data())), width);
}

char* write_uint(char* out, std::uint64_t value, int width) {
    const int length = decimal_length(value);
    char* end = pad_before(out, length, width) + length;
    digits_before(end, value);
    return end;
}

char* write_exponent(char* out, double value, int decimals, int width) {
    std::string_view special;
    if (std::isnan(value)) special = "NaN";
    if (std::isinf(value)) special = value < 0 ? "-inf" : "inf";
    if (!special.empty()) return write_padded(out, special, width);

    std::uint64_t digits = 0;
    int exponent = 0;
    if (!round_significant(value, decimals + 1, digits, exponent)) {
        std::array<char, 48> buf;
        return write_padded(out, exponent_by_library(buf.data(), value, decimals), width);
    }
    const bool negative = std::signbit(value);
    const auto magnitude = static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent);
    const int length =
        negative + 1 + (decimals > 0 ? 1 + decimals : 0) + 1 + (exponent < 0) + decimal_length(magnitude);
    char* p = pad_before(out, length, width);
    if (negative) *p++ = '-';
    if (decimals > 0) {
        // All digits one place to the right, then the first moves left over the point.
        digits_before(p + 2 + decimals, digits);
        p[0] = p[1];
        p[1] = '.';
        p += 2 + decimals;
    } else {
        digits_before(++p, digits);
    }
    *p++ = 'e';
    if (exponent < 0) *p++ = '-';
    p += decimal_length(magnitude);
    digits_before(p, magnitude);
    return p;
}

void append_list_number(std::string& out, double value) {
    if (append_non_finite(out, value)) return;
    const double magnitude = std::fabs(value);
    const Decimal d = shortest_decimal(value);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        const std::size_t start = out.size();
        append_positional(out, d);
        if (out.find('.', start) == std::string::npos) out.append(".0");
        return;
    }
    if (d.negative) out.push_back('-');
    out.push_back(d.digits[0]);
    if (d.count > 1) {
        out.push_back('.');
        out.append(d.digits.data() + 1, static_cast<std::size_t>(d.count - 1));
    }
    out.push_back('e');
    std::array<char, 8> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), d.exponent);
    out.append(buf.data(), res.ptr);
}

void append_quoted(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    auto append_code = [&out](unsigned code) {
        out.append("\\u{");
        if (code >= 16) out.push_back(hex[code >> 4]);
        out.push_back(hex[code & 15]);
        out.push_back('}');
    };
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            case '\0': out.append("\\0"); break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    append_code(c);
                } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                           static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
                    append_code(static_cast<unsigned char>(text[++i]));  // C1 control character
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
}

std::string list_form(const std::vector<double>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out.append(", ");
        append_list_number(out, values[i]);
    }
    out.push_back(']');
    return out;
}

std::string list_form(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out.append(", ");
        append_quoted(out, values[i]);
    }
    out.push_back(']');
    return out;
}

std::string shortest(double value) {
    std::string out;
    append_shortest(out, value);
    return out;
}


}  // namespace cellkit::fmt
