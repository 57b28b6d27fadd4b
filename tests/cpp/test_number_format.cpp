#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "common/number_format.hpp"

namespace cellkit::fmt {
namespace {

// What one of the append_ forms writes on its own.
template <auto append>
std::string form(auto... args) {
    std::string out;
    append(out, args...);
    return out;
}

// clang-format off
TEST(NumberFormat, EachFormByExamples) {
    // The shortest form is positional and reads back to the same double.
    const std::pair<double, const char*> cases[] = {
        {16.0, "16"}, {-0.8476, "-0.8476"}, {1e-7, "0.0000001"}, {0.0, "0"}, {-0.0, "-0"}, {123456.5, "123456.5"},
        {1e23, "100000000000000000000000"}, {0.1 + 0.2, "0.30000000000000004"}, {2.5e-300, nullptr}};
    for (const auto& [value, expected] : cases) {
        const std::string text = shortest(value);
        if (expected) EXPECT_EQ(text, expected) << value;
        EXPECT_EQ(std::stod(text), value) << text;
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
    }
    // Fixed point rounds from the binary value, halfway cases to even; data.lmp pads IDs to 7
    // columns, and an 8-digit ID must widen the column, not lose digits.
    const std::tuple<double, int, int, const char*> fixed[] = {
        {0.125, 2, 0, "0.12"},       {0.375, 2, 0, "0.38"},   {2.5, 0, 0, "2"},          {0.1, 7, 0, "0.1000000"},
        {24.8338, 3, 0, "24.834"},   {31.0406, 3, 0, "31.041"}, {0.0, 6, 10, "  0.000000"},
        {-0.8476, 6, 10, " -0.847600"}, {1.005, 2, 0, "1.00"},  {1e20, 1, 0, "100000000000000000000.0"}};
    for (const auto& [value, decimals, width, expected] : fixed)
        EXPECT_EQ(form<append_fixed>(value, decimals, width), expected) << value;
    const std::tuple<std::uint64_t, int, const char*> unsigned_ints[] = {
        {1, 7, "      1"}, {9'999'999, 7, "9999999"}, {10'000'000, 7, "10000000"}, {0, 0, "0"}, {0, 3, "  0"},
        {99, 3, " 99"},    {100, 0, "100"},           {std::numeric_limits<std::uint64_t>::max(), 7, "18446744073709551615"}};
    for (const auto& [value, width, expected] : unsigned_ints) EXPECT_EQ(form<append_uint>(value, width), expected);
    // The form of parameter lists in messages; every message is joined by cat.
    EXPECT_EQ(list_form(std::vector<double>{0.0, -1e-5, 1e-4, 9999999999999998.0, 2.5e16}),
              "[0.0, -1e-5, 0.0001, 9999999999999998.0, 2.5e16]");
    EXPECT_EQ(list_form(std::vector<std::string>{"O", "a\"b\\c", "t\tn\n\x01"}), R"(["O", "a\"b\\c", "t\tn\n\u{1}"])");
    EXPECT_EQ(cat(std::numeric_limits<std::uint64_t>::max(), " ", -7L), "18446744073709551615 -7");
}

// The C library's %.*e rounds from the exact binary value, halfway cases to even; with its exponent
// rewritten (no plus sign or leading zeros) it is the reference for every finite double and width in use.
TEST(NumberFormat, ExponentFormAgreesWithTheCLibrary) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> coordinate(-2000.0, 2000.0);
    std::vector<double> values = {12.5, -0.3, 0.0, -0.0, -123.456789, 0.001, 1e100, 9.9999999, 9.9999995, 0.125,
                                  1234567.5, 1234568.5, 999999.5, 1e-16, 1e-17, 5e-324, 2.2250738585072014e-308,
                                  4503599627370495.5, 4503599627370496.0};
    // clang-format on
    for (int i = 0; i < 100000; ++i)
        values.push_back(coordinate(random)), values.push_back(std::bit_cast<double>(random()));
    for (const double value : values) {
        if (!std::isfinite(value)) continue;
        for (const int decimals : {6, 0, 1, 16}) {
            char c_text[64];
            std::snprintf(c_text, sizeof c_text, "%.*e", decimals, value);
            const char* exponent = std::strchr(c_text, 'e') + 1;
            std::string expected = std::string(c_text, exponent - c_text) + (*exponent == '-' ? "-" : "") +
                                   std::to_string(std::abs(std::atoi(exponent)));
            expected.insert(0, expected.size() < 13 ? 13 - expected.size() : 0, ' ');
            char out[64];
            ASSERT_EQ(std::string(out, write_exponent(out, value, decimals, 13)), expected)
                << value << " with " << decimals << " decimals";
        }
    }
}

}  // namespace
}  // namespace cellkit::fmt
