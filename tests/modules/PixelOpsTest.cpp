// Ordinals 347 (alpha blend) and 351 (fill alpha) of "Gxrl.dat".

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/modules/GxrlModule.h"

namespace moduletest {
namespace {

BlendFn Blend() { return Gxrl().Entry<BlendFn>(347); }
Op351Fn FillAlpha() { return Gxrl().Entry<Op351Fn>(351); }

// fg over bg by m, rounded to nearest.
int ExpectedBlend(int fg, int bg, int m) {
    return static_cast<int>(std::floor((fg * m + bg * (255 - m)) / 255.0 + 0.5));
}

TEST(BlendTest, EveryMaskValueRoundsToNearest) {
    ASSERT_NE(Blend(), nullptr);
    // One row per mask value, pixels pairing foreground and background values.
    const int32_t width = 86;  // 3 * 86 = 258 bytes: every value as fg and as bg
    std::vector<uint8_t> fg(width * 3), bg(width * 3), mask(width * 256), dst(width * 3 * 256);
    for (int i = 0; i < width * 3; ++i) {
        fg[i] = static_cast<uint8_t>(i);
        bg[i] = static_cast<uint8_t>(255 - (i * 7) % 256);
    }
    for (int m = 0; m < 256; ++m) {
        for (int32_t x = 0; x < width; ++x) mask[m * width + x] = static_cast<uint8_t>(m);
    }
    // fg and bg rows repeat: a line size of 0.
    ASSERT_EQ(Blend()(fg.data(), 0, bg.data(), 0, dst.data(), width * 3, width, 256, 1, 0,
                      mask.data(), width),
              0);
    for (int m = 0; m < 256; ++m) {
        for (int i = 0; i < width * 3; ++i) {
            ASSERT_EQ(dst[m * width * 3 + i], ExpectedBlend(fg[i], bg[i], m))
                << "mask " << m << " byte " << i;
        }
    }
}

TEST(BlendTest, FullMaskGivesForegroundAndEmptyMaskBackground) {
    TPictureBuffer fg(kPixCodeBgr24, 37, 5, 3);
    TPictureBuffer bg(kPixCodeBgr24, 37, 5, 1);
    FillSmoothBgr(fg, 3);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t i = 0; i < 37 * 3; ++i) bg.At(0, y, i) = static_cast<uint8_t>(255 - i);
    }
    TPictureBuffer mask(kPixCodeGray8, 37, 5, 2);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 37; ++x) mask.At(0, y, x) = (x + y) % 2 == 0 ? 255 : 0;
    }
    TPictureBuffer dst(kPixCodeBgr24, 37, 5, 4);
    ASSERT_EQ(
        Blend()(fg.Row(0, 0), fg.Linesizes()[0], bg.Row(0, 0), bg.Linesizes()[0], dst.Row(0, 0),
                dst.Linesizes()[0], 37, 5, 1, 0, mask.Row(0, 0), mask.Linesizes()[0]),
        0);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            const TPictureBuffer& expected = (x + y) % 2 == 0 ? fg : bg;
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(dst.At(0, y, 3 * x + c), expected.At(0, y, 3 * x + c));
            }
        }
    }
    EXPECT_TRUE(dst.PaddingIntact());
}

// The compositor blends into its working picture, which is the foreground.
TEST(BlendTest, WorksInPlaceOnTheForeground) {
    for (int32_t width = 1; width <= 40; width += 3) {
        std::vector<uint8_t> fg(width * 3), bg(width * 3, 10), mask(width, 128);
        for (int i = 0; i < width * 3; ++i) fg[i] = static_cast<uint8_t>(200 + i % 50);
        const std::vector<uint8_t> original = fg;
        ASSERT_EQ(Blend()(fg.data(), width * 3, bg.data(), width * 3, fg.data(), width * 3, width,
                          1, 1, 0, mask.data(), width),
                  0);
        for (int i = 0; i < width * 3; ++i) {
            ASSERT_EQ(fg[i], ExpectedBlend(original[i], 10, 128)) << width;
        }
    }
}

TEST(BlendTest, RefusesBadArgumentsAndWritesNothing) {
    std::vector<uint8_t> fg(12, 1), bg(12, 2), mask(4, 255), dst(12, 9);
    EXPECT_EQ(Blend()(fg.data(), 12, bg.data(), 12, dst.data(), 12, 4, 1, 1, 0, nullptr, 4),
              kModuleBadArgument);
    EXPECT_EQ(Blend()(fg.data(), 12, nullptr, 12, dst.data(), 12, 4, 1, 1, 0, mask.data(), 4),
              kModuleBadArgument);
    EXPECT_EQ(Blend()(fg.data(), 12, bg.data(), 12, dst.data(), 12, 0, 1, 1, 0, mask.data(), 4),
              kModuleBadArgument);
    EXPECT_EQ(Blend()(fg.data(), 12, bg.data(), 12, dst.data(), 12, 1 << 30, 1, 1, 0, mask.data(),
                      4),
              kModuleBadArgument);
    EXPECT_EQ(dst, std::vector<uint8_t>(12, 9));
}

TEST(FillAlphaTest, SetsByteThreeInPlaceAndKeepsTheColour) {
    ASSERT_NE(FillAlpha(), nullptr);
    TPictureBuffer picture(kPixCodeBgra, 13, 3, 4);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t i = 0; i < 13 * 4; ++i) picture.At(0, y, i) = static_cast<uint8_t>(i + y);
    }
    FillAlpha()(picture.Row(0, 0), picture.Linesizes()[0], picture.Row(0, 0),
                picture.Linesizes()[0], 13, 3, 255, 3);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t i = 0; i < 13 * 4; ++i) {
            ASSERT_EQ(picture.At(0, y, i), i % 4 == 3 ? 255 : i + y) << i;
        }
    }
    EXPECT_TRUE(picture.PaddingIntact());
}

TEST(FillAlphaTest, CopiesIntoAnotherDestination) {
    TPictureBuffer src(kPixCodeBgra, 7, 2);
    FillSmoothBgr(src, 4);
    for (int32_t x = 0; x < 7; ++x) src.At(0, 1, 4 * x + 3) = 0;
    TPictureBuffer dst(kPixCodeBgra, 7, 2, 8);
    FillAlpha()(src.Row(0, 0), src.Linesizes()[0], dst.Row(0, 0), dst.Linesizes()[0], 7, 2, 255, 3);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t i = 0; i < 28; ++i) {
            ASSERT_EQ(dst.At(0, y, i), i % 4 == 3 ? 255 : src.At(0, y, i));
        }
    }
    EXPECT_TRUE(dst.PaddingIntact());
}

TEST(FillAlphaTest, IgnoresNullPointersAndSizesOutOfRange) {
    std::vector<uint8_t> picture(16, 0);
    FillAlpha()(nullptr, 16, picture.data(), 16, 4, 1, 255, 3);
    FillAlpha()(picture.data(), 16, picture.data(), 16, 0, 1, 255, 3);
    FillAlpha()(picture.data(), 16, picture.data(), 16, 4, -2, 255, 3);
    FillAlpha()(picture.data(), 16, picture.data(), 16, 1 << 30, 1, 255, 3);
    EXPECT_EQ(picture, std::vector<uint8_t>(16, 0));
}

}  // namespace
}  // namespace moduletest
