#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <random>

#include "common/json_reader.hpp"
#include "test_support.hpp"

namespace cellkit::json {
namespace {

// The message thrown while parsing `text` and applying `read`, or "" when nothing fails.
std::string fault(const std::string& text, auto read) {
    return testing::message_of([&] {
        Cursor cursor(text, "ctx");
        read(cursor);
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

TEST(JsonCursor, DeepNestingIsAFaultNotACrash) {
    EXPECT_NE(fault(std::string(200000, '['), [](Cursor&) {}), "");
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

}  // namespace
}  // namespace cellkit::json
