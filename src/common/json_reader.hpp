// Strict reading of JSON documents: a cursor that schema readers walk value by value, lexing as they go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "common/json_lexer.hpp"

namespace cellkit::json {

// Walks a document value by value with one token of look-ahead; only what the
// reader asks for is decoded. Every fault throws Error with
// "{context}: {description} at line L column C", the position being the last
// character of the offending token as a person counts it in an editor.
class Cursor {
public:
    Cursor(std::string text, std::string context);
    // The lexer looks into text_, which must not move.
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // The next token; ObjectEnd/ArrayEnd when the enclosing container is
    // exhausted, End after the root value.
    Token peek();

    std::string read_string();
    std::optional<std::string> read_optional_string();  // null reads as absent
    double read_number();                               // integer or decimal
    bool read_bool();
    std::uint64_t read_index();               // a non-negative integer only
    std::vector<double> read_numbers();       // an array of numbers of any length
    std::vector<std::string> read_strings();  // an array of strings of any length
    // Skips one value of any depth, checking its syntax, keeping nothing.
    void skip_value();

    // Consume the opening bracket, or fail naming `expected`.
    void enter_array(std::string_view expected);
    void enter_object(std::string_view expected);
    // False once the closing bracket has been consumed.
    bool next_element();
    // The next key, or nullopt once the closing brace has been consumed.
    std::optional<std::string> next_key();

    // Skips whatever is left of the document and checks that only blanks follow the root value.
    void finish();

    // Keys skipped for differing from a known key of their record only in letter case, with that
    // known key, each pair once, in the order first met.
    void note_case_only_key(std::string key, std::string_view known);
    const std::vector<std::pair<std::string, std::string>>& case_only_keys() const { return case_only_keys_; }
    bool broken() const { return lexer_.broken(); }

    // "invalid type: {what the next value is}, expected {expected}" at the next value.
    [[noreturn]] void fail_invalid_type(std::string_view expected);
    [[noreturn]] void fail_at_next(std::string_view description);
    // At the token consumed last (a closing bracket, a key).
    [[noreturn]] void fail_at_last(std::string_view description) const;

private:
    const Lexeme& look();
    Lexeme take();
    std::string describe(const Lexeme& lexeme) const;

    std::string text_;
    Lexer lexer_;
    std::optional<Lexeme> next_;
    std::size_t last_end_ = 0;
    std::vector<std::pair<std::string, std::string>> case_only_keys_;
};

// Reads the root value with `read_root`, then checks the rest of the text. A
// syntax fault anywhere in the document is reported in preference to a fault
// that `read_root` found before it: a broken file is named as such.
void read_document(Cursor& cursor, const std::function<void(Cursor&)>& read_root);

// Reads a whole UTF-8 file and its document as read_document does, for messages
// "reading {path}: {OS text}" and "parsing {path}: {description} at line L column C". Returns a
// warning for each key skipped for differing from a known one only in letter case: RASPA3, which
// writes these files too, reads keys without regard to case.
std::vector<std::string> read_file(const std::filesystem::path& path, const std::function<void(Cursor&)>& read_root);

// One key of a record. A record is read from an object with these keys or
// from an array of their values in this order, where values after the last
// required one may be left out.
struct Field {
    std::string_view key;
    bool required = false;
    std::function<void(Cursor&)> read;
};

// Known keys given twice and missing required keys are faults; unknown keys are skipped.
void read_record(Cursor& cursor, std::string_view expected, std::span<const Field> fields);
inline void read_record(Cursor& cursor, std::string_view expected, std::initializer_list<Field> fields) {
    read_record(cursor, expected, std::span<const Field>(fields.begin(), fields.size()));
}

// Reads an array of exactly `count` elements with `read_element(cursor, index)`.
void read_fixed_array(Cursor& cursor, std::size_t count, std::string_view expected,
                      const std::function<void(Cursor&, std::size_t)>& read_element);

// Reads an array of any length with `read_element(cursor)`.
void read_array(Cursor& cursor, std::string_view expected, const std::function<void(Cursor&)>& read_element);

}  // namespace cellkit::json
