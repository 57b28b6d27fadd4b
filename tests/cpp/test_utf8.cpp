#include <gtest/gtest.h>

#include "common/utf8.hpp"

namespace cellkit {
namespace {

TEST(Utf8, LossyRepairReplacesEachIllFormedPartOnce) {
    const std::string r = "\xef\xbf\xbd";  // U+FFFD
    const std::pair<std::string, std::string> cases[] = {
        {"plain \xc3\xa5 text", "plain \xc3\xa5 text"},
        {"a\xff-", "a" + r + "-"},
        {"\xe2\x82", r},  // cut short: one replacement
        {"\xe2\x82x", r + "x"},
        {"\xc0\xaf", r + r},                  // overlong lead, stray continuation
        {"\xed\xa0\x80", r + r + r},          // surrogate
        {"\xf4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"", ""},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(utf8_lossy(bytes), expected) << bytes;
}

TEST(Utf8, PrefixAndLengthCountCharacters) {
    EXPECT_EQ(utf8_length("\xc3\xb1xy"), 3u);
    EXPECT_EQ(utf8_prefix("\xc3\xb1xy", 1), "\xc3\xb1");
    EXPECT_EQ(utf8_prefix("\xc3\xb1xy", 2), "\xc3\xb1x");
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
