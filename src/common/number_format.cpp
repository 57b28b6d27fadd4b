#include "common/number_format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

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

void append_exponent(std::string& out, double value, int decimals, int width) {
    if (append_non_finite_padded(out, value, width)) return;
    std::array<char, 64> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific, decimals);
    // Rewrite the library's "e+01" exponent as "e1".
    std::array<char, 64> text{};
    std::size_t len = 0;
    const char* p = buf.data();
    for (; p < res.ptr && *p != 'e'; ++p) text[len++] = *p;
    text[len++] = 'e';
    ++p;
    if (*p == '-') text[len++] = '-';
    if (*p == '-' || *p == '+') ++p;
    while (p + 1 < res.ptr && *p == '0') ++p;
    for (; p < res.ptr; ++p) text[len++] = *p;
    append_padded(out, std::string_view(text.data(), len), width);
}

void append_uint(std::string& out, std::uint64_t value, int width) {
    std::array<char, 24> buf{};
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    append_padded(out, std::string_view(buf.data(), static_cast<std::size_t>(res.ptr - buf.data())), width);
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
