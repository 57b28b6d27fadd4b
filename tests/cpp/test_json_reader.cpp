#include <gtest/gtest.h>

#include <bit>

#include "common/json_reader.hpp"
#include "common/number_format.hpp"
#include "test_support.hpp"

namespace cellkit::json {
namespace {

// The message thrown while reading `text` as a document with `read`, or "" when nothing fails.
std::string fault(const std::string& text, auto read) {
    return testing::message_of([&] {
        Cursor cursor(text, "ctx");
        read_document(cursor, read);
    });
}

TEST(JsonCursor, FaultsNameWhatIsWrongWhereItIs) {
    const struct {
        std::string text;
        std::string message;  // without "ctx: "; "" when the text is fine
    } cases[] = {
        // structure
        {"{\"a\": 1} x", "trailing characters at line 1 column 10"},
        {std::string("{} \0 x", 6), "trailing characters at line 1 column 4"},
        {"{\"a\" 1}", "missing a colon after a name of object member at line 1 column 6"},
        {"{\"a\": 1 \"b\": 2}", "missing a comma or '}' after an object member at line 1 column 9"},
        {"{1: 2}", "missing a name for object member at line 1 column 2"},
        {"{\"a\": 1,}", "missing a name for object member at line 1 column 9"},
        {"[1,\n  2 x]", "missing a comma or ']' after an array element at line 2 column 5"},
        {"[\"\xc3\xa9\xc3\xa9\", x]", "invalid value at line 1 column 8"},
        {"[1,]", "invalid value at line 1 column 4"},
        {"[NaN]", "invalid value at line 1 column 2"},
        {"[tru]", "invalid value at line 1 column 5"},
        {"[nul", "EOF while parsing a value at line 1 column 4"},
        {"[1, 2", "EOF while parsing a value at line 1 column 5"},
        {" \n ", "EOF while parsing a value at line 2 column 1"},
        // numbers
        {"[-x]", "invalid value at line 1 column 3"},
        {"[1.]", "miss fraction part in number at line 1 column 4"},
        {"[1e+]", "miss exponent in number at line 1 column 5"},
        {"[2, -1e309]", "number too big to be stored in double at line 1 column 5"},
        {"[1.8e308]", "number too big to be stored in double at line 1 column 2"},
        {"[0.5e400]", "number too big to be stored in double at line 1 column 2"},
        {"[1" + std::string(400, '0') + "]", "number too big to be stored in double at line 1 column 2"},
        {"01", "trailing characters at line 1 column 2"},
        {"[1e-400, 0.017976931348623157e310, 1" + std::string(300, '0') + "]", ""},
        // strings
        {"\"\\x\"", "invalid escape character in string at line 1 column 2"},
        {"\"a\tb\"", "invalid escape character in string at line 1 column 3"},
        {std::string("\"a\0b\"", 5), "missing a closing quotation mark in string at line 1 column 3"},
        {"\"\\u12G4\"", "incorrect hex digit after \\u escape in string at line 1 column 2"},
        {"[\"\\udc00\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\\u0041\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\\n\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\\ue000\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\\udc00\", \"\\udbff\\udfff\"]", ""},
        {"\"\\ud800", "EOF while parsing a value at line 1 column 7"},
        // a byte-order mark is not shown by editors, so it takes no column
        {"\xef\xbb\xbf{}", ""},
        {"\xef\xbb\xbf{} x", "trailing characters at line 1 column 4"},
        {"\xef\xbb\xbf", "EOF while parsing a value at line 1 column 0"},
        {"{}\xef\xbb\xbf", "trailing characters at line 1 column 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fault(c.text, [](Cursor&) {}), c.message.empty() ? "" : "ctx: " + c.message) << c.text;
    }
    EXPECT_NE(fault(std::string(200000, '['), [](Cursor&) {}), "");  // a fault, not a stack overflow
}

TEST(JsonCursor, StringsDecodeEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"plain \xc3\xa9\"", "plain \xc3\xa9"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
        {R"("\ud83d\ude00 \udbff\udfff")", "\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
        {R"("\u0000x")", std::string("\0x", 2)},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(Cursor(text, "ctx").read_string(), value) << text;
}

TEST(JsonCursor, DeepNestingInAnUnknownKeyIsSkipped) {
    const std::size_t depth = 1'000'000;
    const std::string open = "{\"skip\": " + std::string(depth, '[');
    std::uint64_t a = 0;
    const Field field{"a", true, [&a](Cursor& c) { a = c.read_index(); }};
    const auto read_a = [&field](Cursor& c) { read_record(c, "an object", {field}); };
    EXPECT_EQ(fault(open + std::string(depth, ']') + ", \"a\": 7}", read_a), "");
    EXPECT_EQ(a, 7u);
    // The closing brace meets the outermost of the million arrays.
    EXPECT_EQ(fault(open + std::string(depth - 1, ']') + "}, \"a\": 7}", read_a),
              fmt::cat("ctx: missing a comma or ']' after an array element at line 1 column ", 2 * depth + 9));
}

TEST(JsonCursor, SyntaxFaultsOutrankSchemaFaults) {
    EXPECT_EQ(fault("\"x\" ]", [](Cursor& c) { c.read_index(); }), "ctx: trailing characters at line 1 column 5");
    EXPECT_EQ(fault("[\"x\", 1 2]", [](Cursor& c) { c.read_strings(); }),
              "ctx: missing a comma or ']' after an array element at line 1 column 9");
    EXPECT_EQ(fault("[\"x\", 1, 2]", [](Cursor& c) { c.read_strings(); }),
              "ctx: invalid type: integer `1`, expected a string at line 1 column 7");
}

TEST(JsonCursor, IndexAcceptsOnlyNonNegativeIntegers) {
    const std::pair<std::string, std::string> cases[] = {
        {"7", ""},
        {"1.5", "invalid type: floating point `1.5`, expected a non-negative integer at line 1 column 3"},
        {"1e2", "invalid type: floating point `100.0`, expected a non-negative integer at line 1 column 3"},
        {"-1", "invalid value: integer `-1`, expected a non-negative integer at line 1 column 2"},
        {"-0", "invalid type: floating point `-0.0`, expected a non-negative integer at line 1 column 2"},
        {"\"3\"", "invalid type: string \"3\", expected a non-negative integer at line 1 column 3"},
        {"[3]", "invalid type: sequence, expected a non-negative integer at line 1 column 1"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(fault(text, [](Cursor& c) { c.read_index(); }), message.empty() ? "" : "ctx: " + message) << text;
    }
}

// The digits go whole to the conversion; what lies beyond a double's range is ours to decide.
TEST(JsonCursor, NumbersReadWhole) {
    const std::pair<std::string, double> cases[] = {
        {"9007199254740993.0000000000000000000001", 0x1p53 + 2},
        {"0.000000000000000000000000000000000000000000001e45", 1.0},
        {"1.7976931348623158e308", 0x1.fffffffffffffp1023},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"-0", -0.0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(Cursor(text, "ctx").read_number()), std::bit_cast<std::uint64_t>(value))
            << text;
    }
}

}  // namespace
}  // namespace cellkit::json
