#include "common/json_lexer.hpp"

#include <algorithm>
#include <charconv>

#include "common/error.hpp"

namespace cellkit::json {
namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
constexpr std::string_view kEndOfText = "EOF while parsing a value";
constexpr std::string_view kSurrogate = "the surrogate pair in string is invalid";
constexpr std::string_view kBadEscape = "invalid escape character in string";

bool is_blank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// True when the digits (no sign, no leading zero) stay within `limit`, written the same way.
bool within(std::string_view digits, std::string_view limit) {
    return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

// Power of ten of the leading non-zero digit of integer part . fraction; false for zero.
bool leading_power(std::string_view integer, std::string_view fraction, long long& power) {
    if (const auto k = integer.find_first_not_of('0'); k != std::string_view::npos) {
        power = static_cast<long long>(integer.size() - 1 - k);
        return true;
    }
    if (const auto j = fraction.find_first_not_of('0'); j != std::string_view::npos) {
        power = -static_cast<long long>(j + 1);
        return true;
    }
    return false;
}

void append_utf8(std::string& out, unsigned code) {
    auto put = [&out](unsigned byte) { out.push_back(static_cast<char>(byte)); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xc0 | code >> 6);
        put(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        put(0xe0 | code >> 12);
        put(0x80 | (code >> 6 & 0x3f));
        put(0x80 | (code & 0x3f));
    } else {
        put(0xf0 | code >> 18);
        put(0x80 | (code >> 12 & 0x3f));
        put(0x80 | (code >> 6 & 0x3f));
        put(0x80 | (code & 0x3f));
    }
}

unsigned hex_value(std::string_view four) {
    unsigned value = 0;
    for (const char c : four) value = value * 16 + static_cast<unsigned>(hex_digit(c));
    return value;
}

}  // namespace

Lexer::Lexer(std::string_view text, std::string context) : text_(text), context_(std::move(context)) {
    if (text_.starts_with(kByteOrderMark)) start_ = kByteOrderMark.size();
    pos_ = start_;
}

Lexeme Lexer::next() {
    for (;;) {
        while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
        if (pos_ == text_.size()) {
            if (expect_ == Expect::Done) return {Token::End, pos_, pos_};
            syntax_fault(pos_, kEndOfText);
        }
        const char c = text_[pos_];
        switch (expect_) {
            case Expect::Done:
                syntax_fault(pos_, "trailing characters");
            case Expect::Colon:
                if (c != ':') syntax_fault(pos_, "missing a colon after a name of object member");
                ++pos_;
                expect_ = Expect::Value;
                continue;
            case Expect::Separator:
                if (open_.back()) {
                    if (c == ']') return close(Token::ArrayEnd);
                    if (c != ',') syntax_fault(pos_, "missing a comma or ']' after an array element");
                    expect_ = Expect::Value;
                } else {
                    if (c == '}') return close(Token::ObjectEnd);
                    if (c != ',') syntax_fault(pos_, "missing a comma or '}' after an object member");
                    expect_ = Expect::Key;
                }
                ++pos_;
                continue;
            case Expect::FirstKey:
                if (c == '}') return close(Token::ObjectEnd);
                [[fallthrough]];
            case Expect::Key:
                if (c != '"') syntax_fault(pos_, "missing a name for object member");
                expect_ = Expect::Colon;
                return string(Token::Key);
            case Expect::FirstElement:
                if (c == ']') return close(Token::ArrayEnd);
                [[fallthrough]];
            case Expect::Value:
                return value(c);
        }
    }
}

Lexeme Lexer::value(char c) {
    switch (c) {
        case '{':
        case '[':
            open_.push_back(c == '[');
            expect_ = c == '[' ? Expect::FirstElement : Expect::FirstKey;
            ++pos_;
            return {c == '[' ? Token::ArrayStart : Token::ObjectStart, pos_ - 1, pos_};
        case '"': {
            const Lexeme lexeme = string(Token::String);
            after_value();
            return lexeme;
        }
        case 't':
            return literal(Token::Bool, "true");
        case 'f':
            return literal(Token::Bool, "false");
        case 'n':
            return literal(Token::Null, "null");
        default:
            if (c == '-' || at_digit(pos_)) return number();
            syntax_fault(pos_, "invalid value");
    }
}

Lexeme Lexer::close(Token token) {
    open_.pop_back();
    ++pos_;
    after_value();
    return {token, pos_ - 1, pos_};
}

void Lexer::after_value() {
    expect_ = open_.empty() ? Expect::Done : Expect::Separator;
}

Lexeme Lexer::string(Token token) {
    const std::size_t begin = pos_++;
    bool escaped = false;
    for (;;) {
        while (pos_ < text_.size()) {
            const auto u = static_cast<unsigned char>(text_[pos_]);
            if (u == '"' || u == '\\' || u < 0x20) break;
            ++pos_;
        }
        if (pos_ == text_.size()) syntax_fault(pos_, kEndOfText);
        const char c = text_[pos_];
        if (c == '"') return {token, begin, ++pos_, escaped};
        if (c != '\\') syntax_fault(pos_, c == '\0' ? "missing a closing quotation mark in string" : kBadEscape);
        escaped = true;
        const std::size_t escape = pos_++;
        if (pos_ == text_.size()) syntax_fault(pos_, kEndOfText);
        const char e = text_[pos_++];
        if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) continue;
        if (e != 'u') syntax_fault(escape, kBadEscape);
        const unsigned unit = hex4(escape);
        // A UTF-16 surrogate is only half a character: a high one must be followed at once by a low one.
        if (unit >= 0xdc00 && unit <= 0xdfff) syntax_fault(escape, kSurrogate);
        if (unit < 0xd800 || unit > 0xdbff) continue;
        for (const char expected : {'\\', 'u'}) {
            if (pos_ == text_.size()) syntax_fault(pos_, kEndOfText);
            if (text_[pos_++] != expected) syntax_fault(escape, kSurrogate);
        }
        const unsigned low = hex4(escape);
        if (low < 0xdc00 || low > 0xdfff) syntax_fault(escape, kSurrogate);
    }
}

unsigned Lexer::hex4(std::size_t escape) {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i, ++pos_) {
        if (pos_ == text_.size()) syntax_fault(pos_, kEndOfText);
        const int digit = hex_digit(text_[pos_]);
        if (digit < 0) syntax_fault(escape, "incorrect hex digit after \\u escape in string");
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

Lexeme Lexer::number() {
    const std::size_t begin = pos_;
    const bool minus = text_[pos_] == '-';
    if (minus) ++pos_;
    if (!at_digit(pos_)) syntax_fault(pos_, "invalid value");
    const std::size_t integer_begin = pos_;
    if (text_[pos_] == '0') {
        ++pos_;  // a leading zero stands alone; digits after it are the next token's
    } else {
        while (at_digit(pos_)) ++pos_;
    }
    const std::string_view integer = text_.substr(integer_begin, pos_ - integer_begin);
    std::string_view fraction;
    bool decimal = false;
    if (pos_ < text_.size() && text_[pos_] == '.') {
        if (!at_digit(++pos_)) syntax_fault(pos_, "miss fraction part in number");
        const std::size_t fraction_begin = pos_;
        while (at_digit(pos_)) ++pos_;
        fraction = text_.substr(fraction_begin, pos_ - fraction_begin);
        decimal = true;
    }
    long long exponent = 0;
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        ++pos_;
        const bool negative = pos_ < text_.size() && text_[pos_] == '-';
        if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
        if (!at_digit(pos_)) syntax_fault(pos_, "miss exponent in number");
        for (; at_digit(pos_); ++pos_) exponent = std::min(exponent * 10 + (text_[pos_] - '0'), 1'000'000'000LL);
        if (negative) exponent = -exponent;
        decimal = true;
    }
    Lexeme lexeme{Token::Double, begin, pos_};
    if (!decimal && !minus && within(integer, "18446744073709551615")) lexeme.token = Token::Unsigned;
    if (!decimal && minus && integer != "0" && within(integer, "9223372036854775808")) lexeme.token = Token::Negative;
    // Below 10^308 every number is finite; only near or above it is the exact conversion needed.
    long long power = 0;
    if (lexeme.token == Token::Double && leading_power(integer, fraction, power) && power + exponent >= 308) {
        double value = 0;
        const std::string_view text = lexeme.text(text_);
        if (std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc::result_out_of_range) {
            syntax_fault(begin, "number too big to be stored in double");
        }
    }
    after_value();
    return lexeme;
}

Lexeme Lexer::literal(Token token, std::string_view word) {
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (pos_ + i == text_.size()) syntax_fault(pos_ + i, kEndOfText);
        if (text_[pos_ + i] != word[i]) syntax_fault(pos_ + i, "invalid value");
    }
    pos_ += word.size();
    after_value();
    return {token, pos_ - word.size(), pos_};
}

void Lexer::syntax_fault(std::size_t at, std::string_view description) {
    broken_ = true;
    // An unfinished document is reported as such, whatever was expected next.
    if (at >= text_.size()) fail_at_end(text_.size(), kEndOfText);
    fail_at_end(at + 1, description);
}

void Lexer::fail_at_end(std::size_t end, std::string_view description) const {
    // Counted as an editor does: from 1, columns in code points, the byte-order mark not shown.
    end = std::min(end, text_.size());
    std::size_t line = 1;
    std::size_t column = 0;
    if (end > start_) {
        // The pointed character is text[end - 1]; a newline there still belongs to its line.
        const std::string_view before = text_.substr(start_, end - 1 - start_);
        const std::size_t newline = before.rfind('\n');
        const std::size_t line_start = start_ + (newline == std::string_view::npos ? 0 : newline + 1);
        line += static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        for (std::size_t i = line_start; i < end; ++i) {
            if ((static_cast<unsigned char>(text_[i]) & 0xc0) != 0x80) ++column;
        }
    }
    fail(context_, ": ", description, " at line ", line, " column ", column);
}

std::string decode_string(std::string_view document, const Lexeme& lexeme) {
    const std::string_view raw = document.substr(lexeme.begin + 1, lexeme.end - lexeme.begin - 2);
    if (!lexeme.escaped) return std::string(raw);
    // The lexer has checked every escape, so each is complete here.
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        if (raw[i] != '\\') {
            out.push_back(raw[i++]);
            continue;
        }
        const char e = raw[i + 1];
        i += 2;
        switch (e) {
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                unsigned code = hex_value(raw.substr(i, 4));
                i += 4;
                if (code >= 0xd800 && code <= 0xdbff) {
                    code = 0x10000 + ((code - 0xd800) << 10) + (hex_value(raw.substr(i + 2, 4)) - 0xdc00);
                    i += 6;
                }
                append_utf8(out, code);
                break;
            }
            default:
                out.push_back(e);  // '"', '\\', '/'
        }
    }
    return out;
}

double number_value(std::string_view document, const Lexeme& lexeme) {
    const std::string_view text = lexeme.text(document);
    double value = 0;
    // The lexer refused numbers too big for a double, so out of range here means too small.
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc::result_out_of_range) {
        return text[0] == '-' ? -0.0 : 0.0;
    }
    return value;
}

std::uint64_t unsigned_value(std::string_view document, const Lexeme& lexeme) {
    const std::string_view text = lexeme.text(document);
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::int64_t negative_value(std::string_view document, const Lexeme& lexeme) {
    const std::string_view text = lexeme.text(document);
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace cellkit::json
