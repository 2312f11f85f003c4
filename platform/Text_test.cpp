#include "platform/Text.h"

#include <gtest/gtest.h>

#include <random>

namespace platform {
namespace {

TEST(Text, ChineseRoundTripsThroughGbk) {
    const std::string utf8 = "成功登陆行情服务器 OK 123";
    std::string gbk = Utf8ToGbk(utf8);
    // 成 is C9 B9 in GBK: two bytes per Chinese character.
    EXPECT_EQ(gbk.substr(0, 2), "\xB3\xC9");
    EXPECT_EQ(gbk.size(), 9u * 2 + 7);
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(Text, AsciiPassesUnchanged) {
    EXPECT_EQ(GbkToUtf8("plain text\r\n"), "plain text\r\n");
    EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
    // A lone lead byte at the end, an invalid pair, then ASCII that must survive.
    EXPECT_EQ(GbkToUtf8("ab\x81"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(GbkToUtf8("\xFF\xFFok"), "\xEF\xBF\xBD\xEF\xBF\xBDok");
    EXPECT_EQ(GbkToUtf8("\x81\x7F"
                        "A"),
              "\xEF\xBF\xBD\x7F"
              "A");
    // Broken UTF-8 and characters GBK cannot hold become '?'.
    EXPECT_EQ(Utf8ToGbk("a\xC3"), "a?");
    EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80x"), "?x");  // an emoji
    EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80"), "???");      // a surrogate is not UTF-8
}

TEST(Text, RandomBytesNeverFail) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        std::string s(rng() % 40, '\0');
        for (auto& c : s) c = char(rng());
        std::string u = GbkToUtf8(s);
        std::string g = Utf8ToGbk(s);
        // Whatever came in, what comes out of the GBK side is valid UTF-8.
        for (size_t p = 0; p < u.size();) {
            int n = Utf8SequenceLength(std::string_view(u).substr(p));
            ASSERT_GT(n, 0);
            p += size_t(n);
        }
        (void)g;
    }
}

}  // namespace
}  // namespace platform
