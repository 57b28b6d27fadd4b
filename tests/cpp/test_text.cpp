#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "common/json_reader.hpp"
#include "common/json_writer.hpp"
#include "common/number_format.hpp"
#include "common/utf8.hpp"
#include "test_support.hpp"

namespace cellkit::json {
namespace {

const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };

// Syntax faults outrank schema faults; an index is a non-negative integer.
TEST(JsonCursor, FaultsNameWhatIsWrongWhereItIs) {
    const std::function<void(Cursor&)> index = [](Cursor& c) { c.read_index(); };
    const std::function<void(Cursor&)> strings = [](Cursor& c) { c.read_strings(); };
    std::uint64_t a = 0;
    const Field field{"a", true, [&a](Cursor& c) { a = c.read_index(); }};
    const std::function<void(Cursor&)> record = [&field](Cursor& c) { read_record(c, "an object", {field}); };
    const std::size_t depth = 1'000'000;  // deep nesting in an unknown key is skipped without recursion
    const std::string open = "{\"skip\": " + std::string(depth, '[');
    const struct {
        std::string text;
        std::string message;  // without "ctx: "; "" when the text is fine
        std::function<void(Cursor&)> read = [](Cursor&) {};
    } cases[] = {
        {"{\"a\": 1} x", "trailing characters at line 1 column 10"},
        {std::string("{} \0 x", 6), "trailing characters at line 1 column 4"},
        {"{\"a\" 1}", "missing a colon after a name of object member at line 1 column 6"},
        {"{\"a\": 1 \"b\": 2}", "missing a comma or '}' after an object member at line 1 column 9"},
        {"{1: 2}", "missing a name for object member at line 1 column 2"},
        {"{\"a\": 1,}", "missing a name for object member at line 1 column 9"},
        {"[1,\n  2 x]", "missing a comma or ']' after an array element at line 2 column 5"},
        {"[\"\xc3\xa9\xc3\xa9\", x]", "invalid value at line 1 column 8"},
        {"[1,]", "invalid value at line 1 column 4"},
        {"[tru]", "invalid value at line 1 column 5"},
        {"[nul", "EOF while parsing a value at line 1 column 4"},
        {" \n ", "EOF while parsing a value at line 2 column 1"},
        {"[-x]", "invalid value at line 1 column 3"},
        {"[1.]", "miss fraction part in number at line 1 column 4"},
        {"[1e+]", "miss exponent in number at line 1 column 5"},
        {"[2, -1.8e308]", "number too big to be stored in double at line 1 column 5"},
        {"[0.5e400]", "number too big to be stored in double at line 1 column 2"},
        {"[1" + std::string(400, '0') + "]", "number too big to be stored in double at line 1 column 2"},
        {"01", "trailing characters at line 1 column 2"},
        {"[1e-400, 0.017976931348623157e310, 1" + std::string(300, '0') + "]", ""},
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
        {"\xef\xbb\xbf{} x", "trailing characters at line 1 column 4"},
        {"\xef\xbb\xbf", "EOF while parsing a value at line 1 column 0"},
        {"{}\xef\xbb\xbf", "trailing characters at line 1 column 3"},
        // value readers
        {"\"x\" ]", "trailing characters at line 1 column 5", index},
        {"[\"x\", 1 2]", "missing a comma or ']' after an array element at line 1 column 9", strings},
        {"[\"x\", 1, 2]", "invalid type: integer `1`, expected a string at line 1 column 7", strings},
        {"1.5", "invalid type: floating point `1.5`, expected a non-negative integer at line 1 column 3", index},
        {"1e2", "invalid type: floating point `100.0`, expected a non-negative integer at line 1 column 3", index},
        {"-1", "invalid value: integer `-1`, expected a non-negative integer at line 1 column 2", index},
        {"-0", "invalid type: floating point `-0.0`, expected a non-negative integer at line 1 column 2", index},
        {"\"3\"", "invalid type: string \"3\", expected a non-negative integer at line 1 column 3", index},
        {"[3]", "invalid type: sequence, expected a non-negative integer at line 1 column 1", index},
        {open + std::string(depth, ']') + ", \"a\": 7}", "", record},
        // the closing brace meets the outermost of the million arrays
        {open + std::string(depth - 1, ']') + "}, \"a\": 7}",
         fmt::cat("missing a comma or ']' after an array element at line 1 column ", 2 * depth + 9), record},
    };
    for (const auto& c : cases) {
        const std::string fault = testing::message_of([&c] {
            Cursor cursor(c.text, "ctx");
            read_document(cursor, c.read);
        });
        EXPECT_EQ(fault, c.message.empty() ? "" : "ctx: " + c.message) << c.text.substr(0, 99);
    }
    EXPECT_EQ(a, 7u);
}

// Strings decode their escapes. The digits of a number go whole to the conversion; what lies
// beyond a double's range is ours to decide.
TEST(JsonCursor, StringsAndNumbersReadWhole) {
    const std::pair<std::string, std::string> strings[] = {
        {"\"plain \xc3\xa9\"", "plain \xc3\xa9"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
        {R"("\ud83d\ude00 \udbff\udfff")", "\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
        {R"("\u0000x")", std::string("\0x", 2)}};
    for (const auto& [text, value] : strings) EXPECT_EQ(Cursor(text, "ctx").read_string(), value) << text;
    const std::pair<std::string, double> numbers[] = {{"9007199254740993.0000000000000000000001", 0x1p53 + 2},
                                                      {"0.000000000000000000000000000000000000000000001e45", 1.0},
                                                      {"1.7976931348623158e308", 0x1.fffffffffffffp1023},
                                                      {"1e-400", 0.0},
                                                      {"-1e-400", -0.0}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(bits(Cursor(text, "ctx").read_number()), bits(value)) << text;
}

TEST(JsonWriter, CompactTextByteForByteOrAFaultAndNumbersReadBack) {
    using O = Value::Object;
    using A = Value::Array;
    const std::pair<Value, std::string> cases[] = {
        // keys in unsigned byte order: capitals, small letters, then non-ASCII
        {O{{"b", 1}, {"\xc3\xa9", 2}, {"a", 3}, {"B", 4}, {"ab", 5}}, R"({"B":4,"a":3,"ab":5,"b":1,"é":2})"},
        {A{300.0, 0.35, -0.0, 1e-7, 2.5e16, 1e16 - 2, 0.0001, 123456789012345680.0, 5e-324},
         "[300.0,0.35,-0.0,1e-7,2.5e16,9999999999999998.0,0.0001,1.2345678901234568e17,5e-324]"},
        {A{18446744073709551615u, std::numeric_limits<std::int64_t>::min(), -1, true, false, nullptr},
         "[18446744073709551615,-9223372036854775808,-1,true,false,null]"},
        // DEL and non-ASCII pass as they are
        {"\"\\/\b\f\n\r\t\x01\x1f\x7f \xe2\x82\xac", "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \xe2\x82\xac\""},
        {A{A{}, O{}, O{{"x", A{O{}}}}}, R"([[],{},{"x":[{}]}])"},
        {std::nan(""), "JSON has no number for NaN"},
        {A{1.0, -std::numeric_limits<double>::infinity()}, "JSON has no number for -inf"},
        {O{{"k", std::numeric_limits<double>::infinity()}}, "JSON has no number for inf"},
        {O{{"a", 1}, {"b", 2}, {"a", 3}}, "JSON object key \"a\" given twice"},
        {A{"ok", "\xff"}, "JSON text is UTF-8; a string that is not cannot be written"},
    };
    for (const auto& [value, expected] : cases) {
        std::string text;
        const std::string fault = testing::message_of([&] { text = to_compact(value); });
        EXPECT_EQ(fault.empty() ? text : fault, expected);
    }
    // What is written reads back bit for bit, through the shortest form every number takes.
    std::mt19937_64 random(2024);
    std::vector<double> values{0.0, -0.0, 1e300, 5e-324, 0x1p-1022, 0.1 + 0.2, 3e-5, 1e16, 123456.0};
    while (values.size() < 3000) {
        if (const double v = std::bit_cast<double>(random()); std::isfinite(v)) values.push_back(v);
    }
    const std::string text = to_compact(Value::Array(values.begin(), values.end()));
    EXPECT_TRUE(std::ranges::equal(Cursor(text, "ctx").read_numbers(), values, {}, bits, bits));
}

TEST(Utf8, RepairTrimAndPrefixWorkOnWholeCharacters) {
    const std::string r = "\xef\xbf\xbd";  // U+FFFD
    const auto lossy = [](std::string_view s) { return utf8_lossy(s); };
    const auto trim = [](std::string_view s) { return std::string(trim_unicode_space(s)); };
    const auto prefix4 = [](std::string_view s) { return fmt::cat(utf8_length(s), " ", utf8_prefix(s, 4)); };
    const std::tuple<std::function<std::string(std::string_view)>, std::string, std::string> cases[] = {
        // lossy repair replaces each ill-formed part once
        {lossy, "plain \xc3\xa5 \xf0\x9f\x98\x80", "plain \xc3\xa5 \xf0\x9f\x98\x80"},
        {lossy, "a\xff-", "a" + r + "-"},
        {lossy, "\xe2\x82", r},  // cut short: one replacement
        {lossy, "\xe2\x82x", r + "x"},
        {lossy, "\xc0\xaf", r + r},                  // overlong lead, stray continuation
        {lossy, "\xed\xa0\x80", r + r + r},          // surrogate
        {lossy, "\xf4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {lossy, "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},  // U+10FFFF itself
        // trimming drops Unicode white space (no-break, ideographic, paragraph separator, next line)
        {trim, " \t\r\n done \n\n", "done"},
        {trim, "\xc2\xa0\xe3\x80\x80 a b\xe2\x80\xa9\xc2\x85", "a b"},
        {trim, "\xe2\x80\x8b\xc3\xa5\xe2\x80\x8b", "\xe2\x80\x8b\xc3\xa5\xe2\x80\x8b"},  // zero-width: not white
        {trim, " \n\xe2\x80\x80", ""},
        {prefix4, "\xc3\xb1xyz", "4 \xc3\xb1xyz"},
        {prefix4, "\xc3\xb1xyz!", "5 \xc3\xb1xyz"},
    };
    for (const auto& [f, text, expected] : cases) EXPECT_EQ(f(text), expected) << text;
}

}  // namespace
}  // namespace cellkit::json
