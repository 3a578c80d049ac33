#include "common/Utf.h"

#include <gtest/gtest.h>

namespace common {
namespace {

TEST(UtfTest, RoundTripsChineseAndAstralText) {
    const std::string text = "显示器1 (主屏) \xF0\x9F\x98\x80";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 12u);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(UtfTest, MalformedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");           // cut short
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");           // overlong
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "");  // lone surrogate
}

TEST(UtfTest, CutLengthKeepsSurrogatePairsWhole) {
    const std::u16string text = u"ab\U0001F600";
    EXPECT_EQ(Utf16CutLength(text, 10), 4u);
    EXPECT_EQ(Utf16CutLength(text, 4), 4u);
    EXPECT_EQ(Utf16CutLength(text, 3), 2u);
    EXPECT_EQ(Utf16CutLength(text, 0), 0u);
}

}  // namespace
}  // namespace common
