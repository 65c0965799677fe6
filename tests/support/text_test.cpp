#include "support/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TextTest, LengthOfMissingTextIsZero) {
    EXPECT_EQ(v3StrLen(nullptr), 0u);
    EXPECT_EQ(v3StrLen(""), 0u);
    EXPECT_EQ(v3StrLen("abc"), 3u);
}

TEST(TextTest, CopyRefusesWhatDoesNotFitAndLeavesTheBuffer) {
    char buf[64];
    std::memset(buf, 'Q', sizeof buf);
    std::string s63(63, 'a');
    std::string s64(64, 'b');
    EXPECT_EQ(v3StrCopy(buf, s64.c_str(), sizeof buf), -1);
    for (char c : buf) ASSERT_EQ(c, 'Q');
    EXPECT_EQ(v3StrCopy(buf, s63.c_str(), sizeof buf), 0);
    EXPECT_EQ(std::string(buf), s63);

    EXPECT_EQ(v3StrCopy(buf, "x", 0), -1);
    EXPECT_EQ(v3StrCopy(nullptr, "x", 4), -1);
    EXPECT_EQ(v3StrCopy(buf, nullptr, 4), -1);
    EXPECT_EQ(v3StrCopy(buf, "", 1), 0);
    EXPECT_STREQ(buf, "");
}

TEST(TextTest, CopyDoesNotReadPastTheCapacityOfAnUnterminatedSource) {
    // Four bytes without a terminator: measuring must stop at the capacity.
    const char raw[4] = {'a', 'b', 'c', 'd'};
    char buf[4] = {'Q', 'Q', 'Q', 'Q'};
    EXPECT_EQ(v3StrCopy(buf, raw, sizeof buf), -1);
    EXPECT_EQ(buf[0], 'Q');
}

TEST(TextTest, CompareIsPrefixEqualOverN) {
    EXPECT_EQ(v3StrCompare("user", "username", 4), 0);
    EXPECT_NE(v3StrCompare("user", "username", 5), 0);
    EXPECT_LT(v3StrCompare("abc", "abd", 10), 0);
    EXPECT_EQ(v3StrCompare("abd", "abc", 10), 1);
    EXPECT_EQ(v3StrCompare("same", "same", 100), 0);
    EXPECT_EQ(v3StrCompare("a", "b", 0), 0);
    // Bytes above 127 compare as unsigned, so the order is the same on
    // every platform.
    EXPECT_GT(v3StrCompare("\xE9", "e", 1), 0);
    EXPECT_EQ(v3StrCompare(nullptr, nullptr, 5), 0);
    EXPECT_EQ(v3StrCompare(nullptr, "a", 5), -1);
    EXPECT_EQ(v3StrCompare("a", nullptr, 5), -1);
}

TEST(TextTest, FindCharStaysWithinNAndTheText) {
    const char* t = "key=value";
    EXPECT_EQ(v3StrFindChar(t, '=', 9), t + 3);
    EXPECT_EQ(v3StrFindChar(t, '=', 3), nullptr);
    EXPECT_EQ(v3StrFindChar(t, '=', 4), t + 3);
    EXPECT_EQ(v3StrFindChar(t, '#', 1000), nullptr);
    EXPECT_EQ(v3StrFindChar(nullptr, '=', 5), nullptr);
}

TEST(TextTest, FindRequiresTheMatchToEndWithinN) {
    const char* t = "[section]\nkey";
    EXPECT_EQ(v3StrFind(t, "]", 13), t + 8);
    EXPECT_EQ(v3StrFind(t, "section", 8), t + 1);
    EXPECT_EQ(v3StrFind(t, "section", 7), nullptr);
    EXPECT_EQ(v3StrFind(t, "key", 1000), t + 10);
    EXPECT_EQ(v3StrFind(t, "keys", 1000), nullptr);
    const char* a = "aaab";
    EXPECT_EQ(v3StrFind(a, "ab", 4), a + 2);
    EXPECT_EQ(v3StrFind(t, "", 5), t);
    EXPECT_EQ(v3StrFind(nullptr, "a", 5), nullptr);
    EXPECT_EQ(v3StrFind(t, nullptr, 5), nullptr);
}

TEST(TextTest, MaskControlsReplacesC0C1AndDeleteOnlyWithinNAndTheText) {
    // The blank and the text above 0x7F stay; 0x1F and 0x7F do not.
    char t[] = "a\x1b[2J\r\n \x1f\x7f\xa0\xe9z\0\x1b";
    v3StrMaskControls(t, sizeof t);
    EXPECT_EQ(std::string(t, sizeof t - 1), std::string("a?[2J?? ??\xa0\xe9z\0\x1b", 15));
    char u[] = "\t\t\t";
    v3StrMaskControls(u, 2);
    EXPECT_STREQ(u, "??\t");
    v3StrMaskControls(nullptr, 5);

    // C1 controls, as single bytes and as UTF-8, beside text that only
    // looks like them: UTF-8 continuation bytes run from 0x80 to 0xBF.
    struct Case {
        const char* text;
        const char* masked;
    };
    const Case cases[] = {
        {"\x9b" "2J", "?2J"},                     // the one-byte CSI
        {"\x80\x85\x9f", "???"},                  // first, NEL, last
        {"\xc2\x9b" "2J", "??2J"},                // U+009B, CSI in UTF-8
        {"\xc2\x80 \xc2\x9f", "?? ??"},           // U+0080 and U+009F
        {"\xc2\xa0\xc2\xa9", "\xc2\xa0\xc2\xa9"}, // no-break space, (c)
        {"\xc3\x9c" "ber \xe2\x82\xac", "\xc3\x9c" "ber \xe2\x82\xac"},  // U-umlaut, euro
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}, // four bytes, continuation 0x9F
        {"\xe9\x9b" "z", "\xe9?z"},               // Latin-1 e-acute, then a lone CSI
        {"\xc2", "\xc2"},                         // a cut sequence: a Latin-1 letter
        {"\xe0\x82\x9b", "\xe0??"},               // U+009B, overlong: no character
        {"\xc1\x9b", "\xc1?"},                    // the same in two bytes
        {"\xed\xa0\x80", "\xed\xa0?"},            // a surrogate: no character
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        v3StrMaskControls(text.data(), text.size());
        EXPECT_EQ(text, c.masked) << "for " << c.text;
    }
    // A sequence that runs past n is not one; the bytes past n stay.
    char cut[] = "\xc2\x9b";
    v3StrMaskControls(cut, 1);
    EXPECT_STREQ(cut, "\xc2\x9b");
}

}  // namespace
