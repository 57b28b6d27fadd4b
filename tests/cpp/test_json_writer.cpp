#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "common/json_reader.hpp"
#include "common/json_writer.hpp"
#include "test_support.hpp"

namespace cellkit::json {
namespace {

TEST(JsonWriter, CompactTextByteForByte) {
    using O = Value::Object;
    using A = Value::Array;
    const std::pair<Value, std::string> cases[] = {
        // keys in unsigned byte order: capitals, small letters, then non-ASCII
        {O{{"b", 1}, {"\xc3\xa9", 2}, {"a", 3}, {"B", 4}, {"ab", 5}}, R"({"B":4,"a":3,"ab":5,"b":1,"é":2})"},
        {A{300.0, 0.35, -0.0, 1e-7, 2.5e16, 1e16 - 2, 0.0001, 123456789012345680.0, 5e-324},
         "[300.0,0.35,-0.0,1e-7,2.5e16,9999999999999998.0,0.0001,1.2345678901234568e17,5e-324]"},
        {A{std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::int64_t>::min(), -1, true, false,
           nullptr},
         "[18446744073709551615,-9223372036854775808,-1,true,false,null]"},
        // DEL and non-ASCII pass as they are
        {"\"\\/\b\f\n\r\t\x01\x1f\x7f \xe2\x82\xac", "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \xe2\x82\xac\""},
        {A{A{}, O{}, O{{"x", A{O{}}}}}, R"([[],{},{"x":[{}]}])"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(to_compact(value), text);
}

TEST(JsonWriter, RefusesWhatJsonCannotHold) {
    const std::pair<Value, std::string> cases[] = {
        {std::nan(""), "JSON has no number for NaN"},
        {Value::Array{1.0, -std::numeric_limits<double>::infinity()}, "JSON has no number for -inf"},
        {Value::Object{{"k", std::numeric_limits<double>::infinity()}}, "JSON has no number for inf"},
        {Value::Object{{"a", 1}, {"b", 2}, {"a", 3}}, "JSON object key \"a\" given twice"},
        {Value::Array{"ok", "\xff"}, "JSON text is UTF-8; a string that is not cannot be written"},
    };
    for (const auto& [value, message] : cases) EXPECT_EQ(testing::message_of([&] { to_compact(value); }), message);
}

// What is written reads back bit for bit, through the shortest form every number takes.
TEST(JsonWriter, NumbersReadBackBitForBit) {
    std::mt19937_64 random(2024);
    std::vector<double> values{0.0, -0.0, 1e300, 5e-324, 0x1p-1022, 0.1 + 0.2, 3e-5, 1e16, 123456.0};
    while (values.size() < 3000) {
        const std::uint64_t bits = random();
        if ((bits >> 52 & 0x7ff) != 0x7ff) values.push_back(std::bit_cast<double>(bits));
    }
    Cursor cursor(to_compact(Value::Array(values.begin(), values.end())), "ctx");
    const std::vector<double> read = cursor.read_numbers();
    ASSERT_EQ(read.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(read[i]), std::bit_cast<std::uint64_t>(values[i])) << values[i];
    }
}

}  // namespace
}  // namespace cellkit::json
