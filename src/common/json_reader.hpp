// Strict reading of small JSON documents: the recorded token stream and a cursor that schema readers walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

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
    Unsigned,  // an integer without minus sign
    Negative,  // an integer below zero
    Double,    // a number with fraction or exponent, or beyond the 64-bit integers
};

struct Event {
    Token token = Token::Null;
    bool boolean = false;
    std::uint64_t unsigned_value = 0;
    std::int64_t negative_value = 0;
    double double_value = 0.0;
    std::string text;     // Key and String
    std::size_t end = 0;  // byte offset just past the token
};

// Walks a parsed document value by value. Every fault throws Error with
// "{context}: {description} at line L column C", the position being the last
// character of the offending token as a person counts it in an editor.
class Cursor {
public:
    // Parses all of `text`; content after the root value is a fault.
    Cursor(std::string text, std::string context);

    // The next token; ObjectEnd/ArrayEnd when the enclosing container is exhausted.
    Token peek() const;
    bool done() const { return next_ == events_.size(); }

    std::string read_string();
    std::optional<std::string> read_optional_string();  // null reads as absent
    double read_number();                               // integer or decimal
    std::uint64_t read_index();                         // a non-negative integer only
    std::vector<double> read_numbers();                 // an array of numbers of any length
    std::vector<std::string> read_strings();            // an array of strings of any length
    void skip_value();

    // Consume the opening bracket, or fail naming `expected`.
    void enter_array(std::string_view expected);
    void enter_object(std::string_view expected);
    // False once the closing bracket has been consumed.
    bool next_element();
    // The next key, or nullopt once the closing brace has been consumed.
    std::optional<std::string> next_key();

    // "invalid type: {what the next value is}, expected {expected}" at the next value.
    [[noreturn]] void fail_invalid_type(std::string_view expected) const;
    [[noreturn]] void fail_at_next(std::string_view description) const;
    // At the token consumed last (a closing bracket, a key).
    [[noreturn]] void fail_at_last(std::string_view description) const;

private:
    const Event& take();
    [[noreturn]] void fail_at_offset(std::size_t end, std::string_view description) const;

    std::string text_;
    std::string context_;
    std::vector<Event> events_;
    std::size_t next_ = 0;
};

// Reads a whole UTF-8 file and parses it, for messages "reading {path}: {OS text}"
// and "parsing {path}: {description} at line L column C".
Cursor open_file(const std::filesystem::path& path);

// One key of a record. A record is read from an object with these keys or
// from an array of their values in this order, where values after the last
// required one may be left out.
struct Field {
    std::string_view key;
    bool required = false;
    std::function<void(Cursor&)> read;
};

// Known keys given twice and missing required keys are faults; unknown keys are skipped.
void read_record(Cursor& cursor, std::string_view expected, std::initializer_list<Field> fields);

// Reads an array of exactly `count` elements with `read_element(cursor, index)`.
void read_fixed_array(Cursor& cursor, std::size_t count, std::string_view expected,
                      const std::function<void(Cursor&, std::size_t)>& read_element);

// Reads an array of any length with `read_element(cursor)`.
void read_array(Cursor& cursor, std::string_view expected, const std::function<void(Cursor&)>& read_element);

}  // namespace cellkit::json
