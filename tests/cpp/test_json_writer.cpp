#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "common/json_reader.hpp"
#include "common/json_writer.hpp"

namespace cellkit::json {
namespace {

TEST(JsonWriter, CompactTextByteForByte) {
    using O = Value::Object;
    using A = Value::Array;
    const struct {
        Value value;
        std::string text;
    } cases[] = {
        {O{{"temperature", 300.0},
           {"n_init_cycles", std::uint64_t{1000}},
           {"counts", A{std::uint64_t{0}, std::uint64_t{10}}},
           {"density", nullptr},
           {"molecule_paths", A{"/tmp/a b/w\xc3\xa9.json"}}},
         R"({"counts":[0,10],"density":null,"molecule_paths":["/tmp/a b/w)"
         "\xc3\xa9"
         R"(.json"],"n_init_cycles":1000,"temperature":300.0})"},
        // keys in unsigned byte order: capitals, small letters, then non-ASCII
        {O{{"b", 1}, {"\xc3\xa9", 2}, {"a", 3}, {"B", 4}, {"ab", 5}}, R"({"B":4,"a":3,"ab":5,"b":1,"é":2})"},
        {A{300.0, 0.35, -0.0, 1e-7, 2.5e16, 1e16 - 2, 0.0001, 123456789012345680.0, 5e-324},
         "[300.0,0.35,-0.0,1e-7,2.5e16,9999999999999998.0,0.0001,1.2345678901234568e17,5e-324]"},
        {A{std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::int64_t>::min(), -1, true, false},
         "[18446744073709551615,-9223372036854775808,-1,true,false]"},
        // DEL and non-ASCII pass as they are
        {"\"\\/\b\f\n\r\t\x01\x1f\x7f \xe2\x82\xac", "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \xe2\x82\xac\""},
        {A{A{}, O{}, O{{"x", A{O{}}}}}, R"([[],{},{"x":[{}]}])"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_compact(c.value), c.text);
}

TEST(JsonWriter, RefusesWhatJsonCannotHold) {
    const struct {
        Value value;
        std::string message;
    } cases[] = {
        {std::nan(""), "JSON has no number for NaN"},
        {Value::Array{1.0, -std::numeric_limits<double>::infinity()}, "JSON has no number for -inf"},
        {Value::Object{{"k", std::numeric_limits<double>::infinity()}}, "JSON has no number for inf"},
        {Value::Object{{"a", 1}, {"b", 2}, {"a", 3}}, "JSON object key \"a\" given twice"},
        {Value::Array{"ok", "\xff"}, "JSON text is UTF-8; a string that is not cannot be written"},
    };
    for (const auto& c : cases) {
        try {
            to_compact(c.value);
            ADD_FAILURE() << "no fault, expected " << c.message;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

// What the RASPA3 script writes: {"box_len": ..., "coords": [[x, y, z], ...]}.
struct Result {
    double box_len = 0;
    std::vector<std::array<double, 3>> coords;
};

Result read_result(const std::string& text) {
    Cursor cursor(text, "parsing result");
    Result r;
    read_document(cursor, [&r](Cursor& c) {
        read_record(c, "a result object",
                    {{"box_len", true, [&r](Cursor& cc) { r.box_len = cc.read_number(); }},
                     {"coords", true, [&r](Cursor& cc) {
                          read_array(cc, "an array of positions", [&r](Cursor& e) {
                              auto& xyz = r.coords.emplace_back();
                              read_fixed_array(e, 3, "a position",
                                               [&xyz](Cursor& n, std::size_t k) { xyz[k] = n.read_number(); });
                          });
                      }}});
    });
    return r;
}

TEST(JsonWriter, ResultFileReadsBackBitForBit) {
    std::mt19937_64 random(2024);
    std::vector<double> values;
    for (double v : {0.0, -0.0, 1e300, 5e-324, 0x1p-1022, 0.1 + 0.2, 3e-5, 1e16, 123456.0}) values.push_back(v);
    while (values.size() < 3001) {
        const std::uint64_t bits = random();
        if ((bits >> 52 & 0x7ff) != 0x7ff) values.push_back(std::bit_cast<double>(bits));
    }
    Value::Array coords;
    for (std::size_t i = 1; i < values.size(); i += 3) {
        coords.push_back(Value::Array{values[i], values[i + 1], values[i + 2]});
    }
    const std::string text = to_compact(Value::Object{{"coords", std::move(coords)}, {"box_len", values[0]}});

    const Result r = read_result(text);
    ASSERT_EQ(r.coords.size(), (values.size() - 1) / 3);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.box_len), std::bit_cast<std::uint64_t>(values[0]));
    for (std::size_t i = 0; i < r.coords.size(); ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(r.coords[i][k]), std::bit_cast<std::uint64_t>(values[1 + 3 * i + k]))
                << "coords[" << i << "][" << k << "]";
        }
    }
}

}  // namespace
}  // namespace cellkit::json
