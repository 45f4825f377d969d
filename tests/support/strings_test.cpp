#include "support/strings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace support;
using V = std::vector<std::string>;

TEST(Strings, SplitAtEveryOccurrence) {
    EXPECT_EQ(strSplit("a,,b", ","), (V{"a", "", "b"}));
    EXPECT_EQ(strSplit("a,b,", ","), (V{"a", "b", ""}));
    EXPECT_EQ(strSplit("::a::b", "::"), (V{"", "a", "b"}));
    EXPECT_EQ(strSplit("", ","), (V{""}));
    EXPECT_EQ(strSplit("a,b", ""), (V{"a,b"}));
}

TEST(Strings, ReplaceDoesNotRescanInsertedText) {
    EXPECT_EQ(strReplace("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(strReplace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(strReplace("x.y.z", ".", ""), "xyz");
    EXPECT_EQ(strReplace("abc", "", "-"), "abc");
}

TEST(Strings, AsciiHelpers) {
    EXPECT_EQ(toLower("AbC-Ä"), "abc-Ä");
    EXPECT_TRUE(startsWithNoCase("EN_us", "en"));
    EXPECT_FALSE(startsWithNoCase("e", "en"));
    EXPECT_EQ(int2char(0), '0');
    EXPECT_EQ(int2char(15), 'f');
    EXPECT_EQ(int2char(16), '?');
    EXPECT_EQ(int2char(-1), '?');
    EXPECT_EQ(int2string(-9000000000), "-9000000000");
}

TEST(Strings, Utf8Utf16RoundTrip) {
    const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a é 中 😀
    const std::u16string wide = str2wstr(text);
    EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x4E2D, 0xD83D, 0xDE00}));
    EXPECT_EQ(wstr2str(wide), text);
    EXPECT_EQ(utf16Length(text), 5u);
    EXPECT_TRUE(isValidUtf8(text));
}

TEST(Strings, InvalidUtf8BecomesOneReplacementPerByte) {
    const char16_t R = 0xFFFD;
    EXPECT_EQ(str2wstr("\xFF"), (std::u16string{R}));
    EXPECT_EQ(str2wstr("\xE4\xB8" "a"), (std::u16string{R, R, u'a'}));  // cut short
    EXPECT_EQ(str2wstr("\xC0\xAF"), (std::u16string{R, R}));             // overlong
    EXPECT_EQ(str2wstr("\xED\xA0\x80"), (std::u16string{R, R, R}));      // surrogate
    EXPECT_EQ(str2wstr("\xF4\x90\x80\x80"), (std::u16string{R, R, R, R}));  // > U+10FFFF
    EXPECT_FALSE(isValidUtf8("ok\xE4\xB8"));
    EXPECT_TRUE(isValidUtf8("\xEF\xBF\xBD"));  // a real U+FFFD is fine
}

TEST(Strings, LoneSurrogatesBecomeReplacement) {
    EXPECT_EQ(wstr2str(std::u16string{0xD83D}), "\xEF\xBF\xBD");
    EXPECT_EQ(wstr2str(std::u16string{0xDE00, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(wstr2str(std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBDx");
}

TEST(Strings, TruncateKeepsCharactersWhole) {
    const std::string text = "a\xF0\x9F\x98\x80" "b";  // a 😀 b: 4 units
    EXPECT_EQ(truncateUtf16Units(text, 0), "");
    EXPECT_EQ(truncateUtf16Units(text, 1), "a");
    EXPECT_EQ(truncateUtf16Units(text, 2), "a");  // the pair is not split
    EXPECT_EQ(truncateUtf16Units(text, 3), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(truncateUtf16Units(text, 99), text);
    EXPECT_EQ(truncateUtf16Units("\xE4\xB8\xAD\xE6\x96\x87", 1), "\xE4\xB8\xAD");
    // Invalid bytes count one unit each and a partial sequence is never produced.
    EXPECT_EQ(utf16Length("\xFF\xFF" "a"), 3u);
    EXPECT_EQ(truncateUtf16Units("\xFF\xFF" "a", 2), "\xFF\xFF");
    EXPECT_EQ(truncateUtf16Units("\xE4\xB8", 1), "\xE4");
}

TEST(Strings, IpRoundTrip) {
    const uint32_t a = string2ip("192.168.1.20");
    EXPECT_EQ(a, htonl(0xC0A80114));
    EXPECT_EQ(ip2string(a), "192.168.1.20");
    EXPECT_EQ(ip2string(htonl(0xFFFFFFFF)), "255.255.255.255");
    EXPECT_TRUE(isDottedIPv4("0.0.0.0"));
    EXPECT_EQ(string2ip("0.0.0.0"), 0u);
}

TEST(Strings, InvalidIpTextGivesZero) {
    const std::string_view withNul("1.2.3.4\0", 8);
    for (std::string_view bad : std::initializer_list<std::string_view>{"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "1..2.3",
                                 " 1.2.3.4", "1.2.3.4 ", "a.b.c.d", "1.2.3.-4", "1.2.3.4.",
                                 "0x1.2.3.4", "1234.1.1.1", "localhost", withNul}) {
        EXPECT_FALSE(isDottedIPv4(bad)) << bad;
        EXPECT_EQ(string2ip(bad), 0u) << bad;
    }
}

TEST(Strings, PrintableTextEscapesControlBytesAndCuts) {
    EXPECT_EQ(printableText(std::string("Msg\nA\x7f\0B", 8), 100), "Msg\\x0aA\\x7f\\x00B");
    EXPECT_EQ(printableText("abcdef", 3), "abc...");
    EXPECT_EQ(printableText("abc", 3), "abc");
    EXPECT_EQ(printableText("", 3), "");
}
