#include <gtest/gtest.h>

#include "common/utf8.hpp"

namespace cellkit {
namespace {

TEST(Utf8, LossyRepairReplacesEachIllFormedPartOnce) {
    const struct {
        std::string bytes, expected;
    } cases[] = {
        {"plain \xc3\xa5 text", "plain \xc3\xa5 text"},
        {"a\xff"
         "b",
         "a\xef\xbf\xbd"
         "b"},
        {"\xe2\x82", "\xef\xbf\xbd"},  // cut short: one replacement
        {"\xe2\x82"
         "x",
         "\xef\xbf\xbd"
         "x"},
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                                  // overlong lead, stray continuation
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},                  // surrogate
        {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // above U+10FFFF
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_lossy(c.bytes), c.expected) << c.bytes;
}

TEST(Utf8, PrefixAndLengthCountCharacters) {
    EXPECT_EQ(utf8_length("\xc3\xb1"
                          "ab"),
              3u);
    EXPECT_EQ(utf8_prefix("\xc3\xb1"
                          "ab",
                          1),
              "\xc3\xb1");
    EXPECT_EQ(utf8_prefix("\xc3\xb1"
                          "ab",
                          2),
              "\xc3\xb1"
              "a");
    EXPECT_EQ(utf8_prefix("ab", 4), "ab");
    EXPECT_EQ(utf8_prefix("abcdef", 4), "abcd");
}

TEST(Utf8, TrimDropsUnicodeWhiteSpaceAtBothEnds) {
    const struct {
        std::string text, expected;
    } cases[] = {
        {" \t\r\n done \n\n", "done"},
        // no-break space, ideographic space, paragraph separator, next line
        {"\xc2\xa0\xe3\x80\x80 a b\xe2\x80\xa9\xc2\x85", "a b"},
        {"\xe2\x80\x8b\xc3\xa5\xe2\x80\x8b", "\xe2\x80\x8b\xc3\xa5\xe2\x80\x8b"},  // zero-width space is not white
        {" \n\xe2\x80\x80", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(trim_unicode_space(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace cellkit
