// JSON text as a stream of checked tokens, scanned one at a time and decoded only on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cellkit::json {

enum class Token : unsigned char {
    ObjectStart,
    ObjectEnd,
    ArrayStart,
    ArrayEnd,
    Key,
    String,
    Null,
    Bool,
    Unsigned,  // an integer without minus sign that fits 64 bits
    Negative,  // an integer below zero that fits 64 bits
    Double,    // a number with fraction or exponent, "-0", or an integer beyond 64 bits
    End,       // nothing but blanks after the root value
};

// A scanned token: its kind and where it stands in the text. Strings and
// numbers are kept as the text they are written as until someone asks.
struct Lexeme {
    Token token = Token::End;
    std::size_t begin = 0;
    std::size_t end = 0;   // just past the token's last character
    bool escaped = false;  // a string holding backslash escapes

    std::string_view text(std::string_view document) const { return document.substr(begin, end - begin); }
};

// Scans a document token by token, checking its grammar as it goes (commas,
// colons and brackets never reach the caller). Memory: one bit per open
// container. Every fault throws Error "{context}: {description} at line L
// column C", pointing at the offending character.
class Lexer {
public:
    // A leading UTF-8 byte-order mark is skipped.
    Lexer(std::string_view text, std::string context);

    // The next token; End (again and again) once the root value is complete
    // and only blanks follow it.
    Lexeme next();

    // True once a syntax fault has been thrown; the lexer is then unusable.
    bool broken() const { return broken_; }

    // Throws "{context}: {description} at line L column C" for the character
    // that ends just before `end`.
    [[noreturn]] void fail_at_end(std::size_t end, std::string_view description) const;

private:
    enum class Expect : unsigned char { Value, FirstElement, FirstKey, Key, Colon, Separator, Done };

    Lexeme value(char c);
    Lexeme close(Token token);
    Lexeme string(Token token);
    Lexeme number();
    Lexeme literal(Token token, std::string_view word);
    unsigned hex4(std::size_t escape);
    void after_value();
    // A syntax fault at the character at `at`, or "EOF while parsing a value" when the text ends there.
    [[noreturn]] void syntax_fault(std::size_t at, std::string_view description);
    bool at_digit(std::size_t at) const { return at < text_.size() && text_[at] >= '0' && text_[at] <= '9'; }

    std::string_view text_;
    std::string context_;
    std::size_t start_ = 0;  // past the byte-order mark
    std::size_t pos_ = 0;
    Expect expect_ = Expect::Value;
    std::vector<bool> open_;  // true for an array, false for an object
    bool broken_ = false;
};

// The text of a String or Key lexeme with its escapes resolved, as UTF-8.
std::string decode_string(std::string_view document, const Lexeme& lexeme);

// The value of a number lexeme: correctly rounded for Double; tiny values
// become zero of the same sign.
double number_value(std::string_view document, const Lexeme& lexeme);
std::uint64_t unsigned_value(std::string_view document, const Lexeme& lexeme);
std::int64_t negative_value(std::string_view document, const Lexeme& lexeme);

}  // namespace cellkit::json
