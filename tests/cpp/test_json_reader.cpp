#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <random>

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

TEST(JsonCursor, SyntaxFaultsCarryLineAndColumn) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"{\"a\": 1} x", "ctx: trailing characters at line 1 column 10"},
        {"{}{}", "ctx: trailing characters at line 1 column 3"},
        {std::string("{} \0 x", 6), "ctx: trailing characters at line 1 column 4"},
        {"", "ctx: EOF while parsing a value at line 1 column 0"},
        {"{\"a\": }", "ctx: invalid value at line 1 column 7"},
        {"[1,\n  2 x]", "ctx: missing a comma or ']' after an array element at line 2 column 5"},
        {"[\"\xc3\xa9\xc3\xa9\", x]", "ctx: invalid value at line 1 column 8"},
        {"[1, 2", "ctx: EOF while parsing a value at line 1 column 5"},
        {"[NaN]", "ctx: invalid value at line 1 column 2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fault(c.text, [](Cursor&) {}), c.message) << c.text;
    }
}

TEST(JsonCursor, FaultsNameWhatIsWrongWhereItIs) {
    const struct {
        std::string text;
        std::string message;  // without "ctx: "; "" when the text is fine
    } cases[] = {
        // structure
        {"{\"a\" 1}", "missing a colon after a name of object member at line 1 column 6"},
        {"{\"a\": 1 \"b\": 2}", "missing a comma or '}' after an object member at line 1 column 9"},
        {"{1: 2}", "missing a name for object member at line 1 column 2"},
        {"{\"a\": 1,}", "missing a name for object member at line 1 column 9"},
        {"[1,]", "invalid value at line 1 column 4"},
        {"{\"a\": [1}", "missing a comma or ']' after an array element at line 1 column 9"},
        {"[tru]", "invalid value at line 1 column 5"},
        {"]", "invalid value at line 1 column 1"},
        {"[nul", "EOF while parsing a value at line 1 column 4"},
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
        {"[\"\\ud800\\udbff\"]", "the surrogate pair in string is invalid at line 1 column 3"},
        {"[\"\\ud800\\udc00\", \"\\udbff\\udfff\"]", ""},
        {"\"\\ud800", "EOF while parsing a value at line 1 column 7"},
        // a byte-order mark is not shown by editors, so it takes no column
        {"\xef\xbb\xbf{}", ""},
        {"\xef\xbb\xbf{} x", "trailing characters at line 1 column 4"},
        {"\xef\xbb\xbf", "EOF while parsing a value at line 1 column 0"},
        {"\xef\xbb\xbf[1,\n x]", "invalid value at line 2 column 2"},
        {"{}\xef\xbb\xbf", "trailing characters at line 1 column 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fault(c.text, [](Cursor&) {}), c.message.empty() ? "" : "ctx: " + c.message) << c.text;
    }
}

TEST(JsonCursor, StringsDecodeEscapes) {
    const struct {
        std::string text;
        std::string value;
    } cases[] = {
        {"\"plain \xc3\xa9\"", "plain \xc3\xa9"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
        {R"("\ud83d\ude00 \udbff\udfff")", "\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
        {R"("\u0000x")", std::string("\0x", 2)},
    };
    for (const auto& c : cases) {
        Cursor cursor(c.text, "ctx");
        EXPECT_EQ(cursor.read_string(), c.value) << c.text;
    }
}

TEST(JsonCursor, DeepNestingIsAFaultNotACrash) {
    EXPECT_NE(fault(std::string(200000, '['), [](Cursor&) {}), "");
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
    const auto read_index = [](Cursor& c) { c.read_index(); };
    EXPECT_EQ(fault("\"x\" ]", read_index), "ctx: trailing characters at line 1 column 5");
    EXPECT_EQ(fault("[\"x\", 1 2]", [](Cursor& c) { c.read_strings(); }),
              "ctx: missing a comma or ']' after an array element at line 1 column 9");
    EXPECT_EQ(fault("[\"x\", 1, 2]", [](Cursor& c) { c.read_strings(); }),
              "ctx: invalid type: integer `1`, expected a string at line 1 column 7");
}

TEST(JsonCursor, IndexAcceptsOnlyNonNegativeIntegers) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"7", ""},
        {"1.5", "ctx: invalid type: floating point `1.5`, expected a non-negative integer at line 1 column 3"},
        {"1.0", "ctx: invalid type: floating point `1.0`, expected a non-negative integer at line 1 column 3"},
        {"1e2", "ctx: invalid type: floating point `100.0`, expected a non-negative integer at line 1 column 3"},
        {"-1", "ctx: invalid value: integer `-1`, expected a non-negative integer at line 1 column 2"},
        {"-0", "ctx: invalid type: floating point `-0.0`, expected a non-negative integer at line 1 column 2"},
        {"\"3\"", "ctx: invalid type: string \"3\", expected a non-negative integer at line 1 column 3"},
        {"[3]", "ctx: invalid type: sequence, expected a non-negative integer at line 1 column 1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fault(c.text, [](Cursor& cur) { cur.read_index(); }), c.message) << c.text;
    }
}

TEST(JsonCursor, NumbersReadBackExactly) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t bits = random();
        if ((bits >> 52 & 0x7ff) == 0x7ff) continue;  // infinities and NaNs have no JSON form
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 16).ptr;
        Cursor cursor(std::string(buffer, end), "ctx");
        EXPECT_EQ(cursor.read_number(), value) << std::string(buffer, end);
    }
    Cursor integers("[18446744073709551615, -9223372036854775808]", "ctx");
    EXPECT_EQ(integers.read_numbers(), (std::vector<double>{18446744073709551615.0, -9223372036854775808.0}));
}

TEST(JsonCursor, HardDecimalsRoundCorrectly) {
    const struct {
        std::string text;
        double value;
    } cases[] = {
        {"9007199254740993", 0x1p53},  // halfway: to even
        {"9007199254740993.0000000000000000000001", 0x1p53 + 2},
        {"18446744073709551617", 0x1p64},
        {"2.2250738585072011e-308", 0x1.ffffffffffffep-1023},
        {"2.2250738585072012e-308", 0x1p-1022},
        {"2.4703282292062328e-324", 0x1p-1074},
        {"2.4703282292062327e-324", 0.0},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"-0", -0.0},
        {"1.7976931348623158e308", 0x1.fffffffffffffp1023},
        {"0.000000000000000000000000000000000000000000001e45", 1.0},
        {"0.1", 0.1},
    };
    for (const auto& c : cases) {
        Cursor cursor(c.text, "ctx");
        EXPECT_EQ(std::bit_cast<std::uint64_t>(cursor.read_number()), std::bit_cast<std::uint64_t>(c.value)) << c.text;
    }
}

}  // namespace
}  // namespace cellkit::json
