#include "common/json_reader.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>

#include "common/file_io.hpp"
#include "common/number_format.hpp"

namespace cellkit::json {
namespace {

// Input stream over the text that lets the handler ask where the last token ended.
class TextStream {
public:
    using Ch = char;
    explicit TextStream(std::string_view text) : text_(text) {}
    Ch Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    Ch Take() { return pos_ < text_.size() ? text_[pos_++] : '\0'; }
    std::size_t Tell() const { return pos_; }
    // Only used by in-situ parsing, which is not requested.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Records each token with the offset where it ends.
class Recorder {
public:
    Recorder(const TextStream& stream, std::vector<Event>& events) : stream_(stream), events_(events) {}

    bool Null() { return push(Token::Null); }
    bool Bool(bool b) {
        push(Token::Bool);
        events_.back().boolean = b;
        return true;
    }
    bool Int(int i) { return signed_integer(i); }
    bool Uint(unsigned u) { return unsigned_integer(u); }
    bool Int64(std::int64_t i) { return signed_integer(i); }
    bool Uint64(std::uint64_t u) { return unsigned_integer(u); }
    bool Double(double d) {
        push(Token::Double);
        events_.back().double_value = d;
        return true;
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
    bool String(const char* s, rapidjson::SizeType n, bool) { return text(Token::String, s, n); }
    bool Key(const char* s, rapidjson::SizeType n, bool) { return text(Token::Key, s, n); }
    // The iterative parser reports a bracket before taking it from the stream.
    bool StartObject() { return push(Token::ObjectStart, 1); }
    bool EndObject(rapidjson::SizeType) { return push(Token::ObjectEnd, 1); }
    bool StartArray() { return push(Token::ArrayStart, 1); }
    bool EndArray(rapidjson::SizeType) { return push(Token::ArrayEnd, 1); }

private:
    bool push(Token token, std::size_t untaken = 0) {
        Event& e = events_.emplace_back();
        e.token = token;
        e.end = stream_.Tell() + untaken;
        return true;
    }
    bool unsigned_integer(std::uint64_t u) {
        push(Token::Unsigned);
        events_.back().unsigned_value = u;
        return true;
    }
    bool signed_integer(std::int64_t i) {
        // The reader reports "-0" as the integer 0; it is a negative zero, not an index.
        if (i == 0) return Double(-0.0);
        if (i > 0) return unsigned_integer(static_cast<std::uint64_t>(i));
        push(Token::Negative);
        events_.back().negative_value = i;
        return true;
    }
    bool text(Token token, const char* s, rapidjson::SizeType n) {
        push(token);
        events_.back().text.assign(s, n);
        return true;
    }

    const TextStream& stream_;
    std::vector<Event>& events_;
};

std::string describe_syntax_error(rapidjson::ParseErrorCode code) {
    if (code == rapidjson::kParseErrorDocumentRootNotSingular) return "trailing characters";
    if (code == rapidjson::kParseErrorDocumentEmpty) return "EOF while parsing a value";
    std::string text = rapidjson::GetParseError_En(code);
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string describe_value(const Event& e) {
    switch (e.token) {
        case Token::String: {
            std::string out = "string ";
            fmt::append_quoted(out, e.text);
            return out;
        }
        case Token::Null: return "null";
        case Token::Bool: return e.boolean ? "boolean `true`" : "boolean `false`";
        case Token::Unsigned: return fmt::cat("integer `", e.unsigned_value, "`");
        case Token::Negative: return fmt::cat("integer `", e.negative_value, "`");
        case Token::Double: {
            std::string number = fmt::shortest(e.double_value);
            if (number.find('.') == std::string::npos) number.append(".0");
            return fmt::cat("floating point `", number, "`");
        }
        case Token::ObjectStart: return "map";
        case Token::ArrayStart: return "sequence";
        default: return "end of container";
    }
}

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 0;
};

// Line and column of the character that ends just before `end`, counted as an
// editor does: from 1, columns in code points.
TextPosition locate(std::string_view text, std::size_t end) {
    end = std::min(end, text.size());
    if (end == 0) return {};
    // The pointed character is text[end - 1]; a newline there still belongs to its line.
    const std::string_view before = text.substr(0, end - 1);
    const std::size_t newline = before.rfind('\n');
    const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
    TextPosition pos;
    pos.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    for (std::size_t i = line_start; i < end; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) ++pos.column;
    }
    return pos;
}

}  // namespace

Cursor::Cursor(std::string text, std::string context) : text_(std::move(text)), context_(std::move(context)) {
    TextStream stream(text_);
    Recorder recorder(stream, events_);
    rapidjson::Reader reader;
    // Full precision: the default fast path rounds some decimals one unit in the last place off.
    // Iterative: nesting depth must not be bounded by the call stack.
    const rapidjson::ParseResult result =
        reader.Parse<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag>(stream, recorder);
    if (result.IsError()) {
        // An unfinished document is reported as such, not as whatever token the reader wanted next.
        const bool at_end = result.Offset() >= text_.size();
        fail_at_offset(result.Offset() + 1,
                       at_end ? "EOF while parsing a value" : describe_syntax_error(result.Code()));
    }
    // The reader takes a NUL byte for the end of the input.
    if (stream.Tell() < text_.size()) fail_at_offset(stream.Tell() + 1, "trailing characters");
}

Cursor open_file(const std::filesystem::path& path) {
    return Cursor(read_text_file(path), fmt::cat("parsing ", display(path)));
}

Token Cursor::peek() const { return done() ? Token::ArrayEnd : events_[next_].token; }

const Event& Cursor::take() {
    if (done()) fail_at_offset(text_.size(), "EOF while parsing a value");
    return events_[next_++];
}

std::string Cursor::read_string() {
    if (peek() != Token::String) fail_invalid_type("a string");
    return take().text;
}

std::optional<std::string> Cursor::read_optional_string() {
    if (peek() == Token::Null) {
        take();
        return std::nullopt;
    }
    if (peek() != Token::String) fail_invalid_type("a string or null");
    return take().text;
}

double Cursor::read_number() {
    switch (peek()) {
        case Token::Unsigned: return static_cast<double>(take().unsigned_value);
        case Token::Negative: return static_cast<double>(take().negative_value);
        case Token::Double: return take().double_value;
        default: fail_invalid_type("a number");
    }
}

std::uint64_t Cursor::read_index() {
    if (peek() == Token::Negative) {
        fail_at_next(fmt::cat("invalid value: ", describe_value(events_[next_]), ", expected a non-negative integer"));
    }
    if (peek() != Token::Unsigned) fail_invalid_type("a non-negative integer");
    return take().unsigned_value;
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
    int depth = 0;
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
    return take().text;
}

void Cursor::fail_invalid_type(std::string_view expected) const {
    if (done()) fail_at_offset(text_.size(), "EOF while parsing a value");
    fail_at_next(fmt::cat("invalid type: ", describe_value(events_[next_]), ", expected ", expected));
}

void Cursor::fail_at_next(std::string_view description) const {
    fail_at_offset(done() ? text_.size() : events_[next_].end, description);
}

void Cursor::fail_at_last(std::string_view description) const {
    fail_at_offset(next_ == 0 ? 0 : events_[next_ - 1].end, description);
}

void Cursor::fail_at_offset(std::size_t end, std::string_view description) const {
    const TextPosition pos = locate(text_, end);
    fail(context_, ": ", description, " at line ", pos.line, " column ", pos.column);
}

void read_record(Cursor& cursor, std::string_view expected, std::initializer_list<Field> fields) {
    const Field* field = fields.begin();
    const std::size_t n = fields.size();
    if (cursor.peek() == Token::ObjectStart) {
        cursor.enter_object(expected);
        std::vector<bool> seen(n, false);
        while (const auto key = cursor.next_key()) {
            std::size_t i = 0;
            while (i < n && field[i].key != *key) ++i;
            if (i == n) {
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
