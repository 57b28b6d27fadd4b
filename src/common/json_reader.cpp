#include "common/json_reader.hpp"

#include "common/ascii.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"

namespace cellkit::json {

Cursor::Cursor(std::string text, std::string context) : text_(std::move(text)), lexer_(text_, std::move(context)) {}

const Lexeme& Cursor::look() {
    if (!next_) next_ = lexer_.next();
    return *next_;
}

Token Cursor::peek() {
    return look().token;
}

Lexeme Cursor::take() {
    const Lexeme lexeme = next_ ? *next_ : lexer_.next();
    next_.reset();
    last_end_ = lexeme.end;
    return lexeme;
}

std::string Cursor::describe(const Lexeme& lexeme) const {
    switch (lexeme.token) {
        case Token::String: {
            std::string out = "string ";
            fmt::append_quoted(out, decode_string(text_, lexeme));
            return out;
        }
        case Token::Null: return "null";
        case Token::Bool:
            return text_[lexeme.begin] == 't' ? "boolean `true`" : "boolean `false`";
        case Token::Unsigned:
            return fmt::cat("integer `", unsigned_value(text_, lexeme), "`");
        case Token::Negative:
            return fmt::cat("integer `", negative_value(text_, lexeme), "`");
        case Token::Double: {
            std::string number = fmt::shortest(number_value(text_, lexeme));
            if (number.find('.') == std::string::npos) number.append(".0");
            return fmt::cat("floating point `", number, "`");
        }
        case Token::ObjectStart: return "map";
        case Token::ArrayStart: return "sequence";
        default: return "end of container";
    }
}

std::string Cursor::read_string() {
    if (peek() != Token::String) fail_invalid_type("a string");
    return decode_string(text_, take());
}

std::optional<std::string> Cursor::read_optional_string() {
    if (peek() == Token::Null) {
        take();
        return std::nullopt;
    }
    if (peek() != Token::String) fail_invalid_type("a string or null");
    return decode_string(text_, take());
}

double Cursor::read_number() {
    const Token token = peek();
    if (token != Token::Unsigned && token != Token::Negative && token != Token::Double) fail_invalid_type("a number");
    return number_value(text_, take());
}

bool Cursor::read_bool() {
    if (peek() != Token::Bool) fail_invalid_type("a boolean");
    return text_[take().begin] == 't';
}

std::uint64_t Cursor::read_index() {
    if (peek() == Token::Negative) {
        fail_at_next(fmt::cat("invalid value: ", describe(look()), ", expected a non-negative integer"));
    }
    if (peek() != Token::Unsigned) fail_invalid_type("a non-negative integer");
    return unsigned_value(text_, take());
}

std::vector<double> Cursor::read_numbers() {
    std::vector<double> values;
    read_array(*this, "an array of numbers", [&values](Cursor& c) { values.push_back(c.read_number()); });
    return values;
}

std::vector<std::string> Cursor::read_strings() {
    std::vector<std::string> values;
    read_array(*this, "an array of strings", [&values](Cursor& c) { values.push_back(c.read_string()); });
    return values;
}

void Cursor::skip_value() {
    // A counter, not recursion: any depth of nesting is skipped in constant stack.
    std::size_t depth = 0;
    do {
        switch (take().token) {
            case Token::ObjectStart:
            case Token::ArrayStart: ++depth; break;
            case Token::ObjectEnd:
            case Token::ArrayEnd: --depth; break;
            default: break;
        }
    } while (depth > 0);
}

void Cursor::enter_array(std::string_view expected) {
    if (peek() != Token::ArrayStart) fail_invalid_type(expected);
    take();
}

void Cursor::enter_object(std::string_view expected) {
    if (peek() != Token::ObjectStart) fail_invalid_type(expected);
    take();
}

bool Cursor::next_element() {
    if (peek() != Token::ArrayEnd) return true;
    take();
    return false;
}

std::optional<std::string> Cursor::next_key() {
    if (peek() == Token::ObjectEnd) {
        take();
        return std::nullopt;
    }
    return decode_string(text_, take());
}

void Cursor::finish() {
    while (peek() != Token::End) take();
}

void Cursor::fail_invalid_type(std::string_view expected) {
    if (peek() == Token::End) lexer_.fail_at_end(text_.size(), "EOF while parsing a value");
    fail_at_next(fmt::cat("invalid type: ", describe(look()), ", expected ", expected));
}

void Cursor::fail_at_next(std::string_view description) {
    lexer_.fail_at_end(look().end, description);
}

void Cursor::fail_at_last(std::string_view description) const {
    lexer_.fail_at_end(last_end_, description);
}

void read_document(Cursor& cursor, const std::function<void(Cursor&)>& read_root) {
    try {
        read_root(cursor);
    } catch (const Error&) {
        if (!cursor.broken()) cursor.finish();  // throws the first syntax fault after the point reached
        throw;
    }
    cursor.finish();
}

void Cursor::note_case_only_key(std::string key, std::string_view known) {
    for (const auto& [k, v] : case_only_keys_) {
        if (k == key && v == known) return;
    }
    case_only_keys_.emplace_back(std::move(key), std::string(known));
}

std::vector<std::string> read_file(const std::filesystem::path& path, const std::function<void(Cursor&)>& read_root) {
    Cursor cursor(read_text_file(path), fmt::cat("parsing ", display(path)));
    read_document(cursor, read_root);
    std::vector<std::string> warnings;
    for (const auto& [key, known] : cursor.case_only_keys()) {
        std::string quoted_key, quoted_known;
        fmt::append_quoted(quoted_key, key);
        fmt::append_quoted(quoted_known, known);
        warnings.push_back(fmt::cat(display(path), ": key ", quoted_key, " differs from ", quoted_known,
                                    " only in letter case; RASPA3 reads it as ", quoted_known,
                                    ", cellkit reads keys as written and skips it: write ", quoted_known));
    }
    return warnings;
}

void read_record(Cursor& cursor, std::string_view expected, std::span<const Field> fields) {
    const Field* field = fields.data();
    const std::size_t n = fields.size();
    if (cursor.peek() == Token::ObjectStart) {
        cursor.enter_object(expected);
        std::vector<bool> seen(n, false);
        while (const auto key = cursor.next_key()) {
            std::size_t i = 0;
            while (i < n && field[i].key != *key) ++i;
            if (i == n) {
                for (std::size_t k = 0; k < n; ++k) {
                    if (equals_ignoring_ascii_case(*key, field[k].key)) cursor.note_case_only_key(*key, field[k].key);
                }
                cursor.skip_value();
                continue;
            }
            if (seen[i]) cursor.fail_at_last(fmt::cat("duplicate field `", *key, "`"));
            seen[i] = true;
            field[i].read(cursor);
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (field[i].required && !seen[i]) cursor.fail_at_last(fmt::cat("missing field `", field[i].key, "`"));
        }
        return;
    }
    if (cursor.peek() != Token::ArrayStart) cursor.fail_invalid_type(expected);
    std::size_t minimum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (field[i].required) minimum = i + 1;
    }
    cursor.enter_array(expected);
    std::size_t count = 0;
    while (cursor.next_element()) {
        if (count < n) {
            field[count].read(cursor);
        } else {
            cursor.skip_value();
        }
        ++count;
    }
    if (count < minimum) {
        cursor.fail_at_last(
            fmt::cat("invalid length ", count, ", expected ", expected, " with at least ", minimum, " elements"));
    }
    if (count > n) {
        cursor.fail_at_last(
            fmt::cat("invalid length ", count, ", expected ", expected, " with at most ", n, " elements"));
    }
}

void read_fixed_array(Cursor& cursor, std::size_t count, std::string_view expected,
                      const std::function<void(Cursor&, std::size_t)>& read_element) {
    cursor.enter_array(expected);
    std::size_t seen = 0;
    while (cursor.next_element()) {
        if (seen < count) {
            read_element(cursor, seen);
        } else {
            cursor.skip_value();
        }
        ++seen;
    }
    if (seen != count) cursor.fail_at_last(fmt::cat("invalid length ", seen, ", expected ", expected));
}

void read_array(Cursor& cursor, std::string_view expected, const std::function<void(Cursor&)>& read_element) {
    cursor.enter_array(expected);
    while (cursor.next_element()) read_element(cursor);
}

}  // namespace cellkit::json
