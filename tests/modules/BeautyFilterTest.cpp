// Ordinal 156 of "TBeautySkin.dat": the beauty filter.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "tests/modules/BeautyModule.h"
#include "tests/modules/BeautyPictures.h"

namespace moduletest {
namespace {

int32_t Filter(const TBgrPicture& src, TBgrPicture& dst, int smoothing, int whitening,
               int texture) {
    return Beauty()(src.data.data(), dst.data.data(), src.width, src.height, src.Linesize(),
                    smoothing, whitening, texture);
}

double LumaVariance(const TBgrPicture& picture, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    double sum = 0, square = 0;
    const double count = static_cast<double>((x1 - x0) * (y1 - y0));
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const double l = picture.Luma(x, y);
            sum += l;
            square += l * l;
        }
    }
    return square / count - (sum / count) * (sum / count);
}

// Skin in the middle, saturated blue on the left, green on the right.
TBgrPicture SkinOnBlueAndGreen(int32_t w, int32_t h) {
    TBgrPicture picture(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (x < w / 2) {
                picture.Set(x, y, 255, 0, 0);
            } else {
                picture.Set(x, y, 20, 230, 30);
            }
        }
    }
    FillNoisySkin(picture, w / 3, h / 3, 2 * w / 3, 2 * h / 3, 0.0, 1);
    return picture;
}

TEST(BeautyFilterTest, NoSmoothingAndNoWhiteningLeavesThePictureAlone) {
    ASSERT_NE(Beauty(), nullptr);
    TBgrPicture src(97, 61);
    FillNoisySkin(src, 0, 0, 97, 61, 20.0, 7);
    for (int texture : {0, 5, 10}) {
        TBgrPicture dst(97, 61);
        ASSERT_EQ(Filter(src, dst, 0, 0, texture), 0);
        EXPECT_EQ(dst.data, src.data) << texture;
        TBgrPicture inPlace(97, 61);
        inPlace.data = src.data;
        ASSERT_EQ(Filter(inPlace, inPlace, 0, 0, texture), 0);
        EXPECT_EQ(inPlace.data, src.data) << texture;
    }
}

TEST(BeautyFilterTest, WhiteningBrightensSkinAndLeavesBlueAndGreenAlone) {
    const TBgrPicture src = SkinOnBlueAndGreen(240, 160);
    TBgrPicture mild(240, 160), strong(240, 160);
    ASSERT_EQ(Filter(src, mild, 0, 4, 5), 0);
    ASSERT_EQ(Filter(src, strong, 0, 10, 5), 0);

    const double before = src.Luma(120, 80);
    EXPECT_GT(mild.Luma(120, 80), before + 4);
    EXPECT_GT(strong.Luma(120, 80), mild.Luma(120, 80) + 4);
    // Whitening lifts all three channels alike: the colour gets lighter.
    for (int c = 0; c < 3; ++c) EXPECT_GT(strong.Pixel(120, 80)[c], src.Pixel(120, 80)[c]);
    // The backdrop, right up to the skin.
    for (int32_t y = 0; y < 160; ++y) {
        for (int32_t x = 0; x < 240; ++x) {
            const bool skin = x >= 80 && x < 160 && y >= 53 && y < 106;
            if (skin) continue;
            ASSERT_EQ(std::memcmp(strong.Pixel(x, y), src.Pixel(x, y), 3), 0) << x << "," << y;
        }
    }
}

// The filter works on a grid of cells of 1 x 1 (small pictures) up to 4 x 4
// pixels (1080p): each size below has its own.
struct TSize {
    int32_t width, height;
};

class BeautySizeTest : public ::testing::TestWithParam<TSize> {};

TEST_P(BeautySizeTest, SmoothingQuietsNoisySkin) {
    const auto [w, h] = GetParam();
    TBgrPicture src(w, h);
    FillNoisySkin(src, 0, 0, w, h, 8.0, 3);
    TBgrPicture dst(w, h);
    ASSERT_EQ(Filter(src, dst, 10, 0, 0), 0);
    const int32_t x0 = w / 10, y0 = h / 10, x1 = w - w / 10, y1 = h - h / 10;
    const double before = LumaVariance(src, x0, y0, x1, y1);
    const double after = LumaVariance(dst, x0, y0, x1, y1);
    EXPECT_LT(after, 0.4 * before) << before << " -> " << after;
    // The mean stays where it was: smoothing is not brightening.
    double meanBefore = 0, meanAfter = 0;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            meanBefore += src.Luma(x, y);
            meanAfter += dst.Luma(x, y);
        }
    }
    const double count = static_cast<double>((x1 - x0) * (y1 - y0));
    EXPECT_NEAR(meanAfter / count, meanBefore / count, 1.0);
}

// A hard edge between lit skin and a dark backdrop keeps its step.
TEST_P(BeautySizeTest, SmoothingKeepsAHardEdge) {
    const auto [w, h] = GetParam();
    TBgrPicture src(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) src.Set(x, y, 40, 35, 30);
    }
    const int32_t edge = w / 2;
    FillNoisySkin(src, 0, 0, edge, h, 6.0, 11);
    TBgrPicture dst(w, h);
    ASSERT_EQ(Filter(src, dst, 10, 0, 0), 0);
    for (int32_t y = h / 12; y < h - h / 12; y += h / 12) {
        const double stepBefore = src.Luma(edge - 2, y) - src.Luma(edge + 1, y);
        const double stepAfter = dst.Luma(edge - 2, y) - dst.Luma(edge + 1, y);
        EXPECT_GT(stepAfter, 0.8 * stepBefore) << y;
        // The dark side is no skin: untouched.
        for (int32_t x = edge; x < w; ++x) {
            ASSERT_EQ(std::memcmp(dst.Pixel(x, y), src.Pixel(x, y), 3), 0) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BeautySizeTest,
                         ::testing::Values(TSize{200, 150}, TSize{1280, 720}, TSize{1100, 820},
                                           TSize{1920, 1080}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(BeautyFilterTest, TextureKeepsMoreOfTheFineDetail) {
    TBgrPicture src(200, 150);
    FillNoisySkin(src, 0, 0, 200, 150, 8.0, 5);
    TBgrPicture smooth(200, 150), textured(200, 150);
    ASSERT_EQ(Filter(src, smooth, 10, 0, 0), 0);
    ASSERT_EQ(Filter(src, textured, 10, 0, 10), 0);
    EXPECT_GT(LumaVariance(textured, 20, 20, 180, 130),
              1.5 * LumaVariance(smooth, 20, 20, 180, 130));
}

TEST(BeautyFilterTest, InPlaceGivesTheSameResult) {
    TBgrPicture src(123, 77);
    FillNoisySkin(src, 0, 0, 123, 77, 10.0, 9);
    TBgrPicture apart(123, 77);
    ASSERT_EQ(Filter(src, apart, 5, 5, 5), 0);
    TBgrPicture inPlace(123, 77);
    inPlace.data = src.data;
    ASSERT_EQ(Filter(inPlace, inPlace, 5, 5, 5), 0);
    EXPECT_EQ(inPlace.data, apart.data);
}

// The scratch buffers are kept between calls: a call at another size in
// between changes nothing.
TEST(BeautyFilterTest, RepeatedCallsAtChangingSizesAgree) {
    TBgrPicture a(64, 40), b(301, 171);
    FillNoisySkin(a, 0, 0, 64, 40, 10.0, 1);
    FillNoisySkin(b, 0, 0, 301, 171, 10.0, 2);
    TBgrPicture first(64, 40), other(301, 171), again(64, 40);
    ASSERT_EQ(Filter(a, first, 7, 3, 2), 0);
    ASSERT_EQ(Filter(b, other, 7, 3, 2), 0);
    ASSERT_EQ(Filter(a, again, 7, 3, 2), 0);
    EXPECT_EQ(again.data, first.data);
}

TEST(BeautyFilterTest, HandlesTinyAndOddSizes) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 3}, std::pair{5, 2}}) {
        TBgrPicture src(w, h);
        FillNoisySkin(src, 0, 0, w, h, 5.0, 4);
        TBgrPicture dst(w, h);
        ASSERT_EQ(Filter(src, dst, 10, 10, 10), 0) << w << "x" << h;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) EXPECT_GE(dst.Luma(x, y), src.Luma(x, y) - 12);
        }
    }
}

TEST(BeautyFilterTest, StrengthsOutsideTheRangeAreClamped) {
    TBgrPicture src(80, 60);
    FillNoisySkin(src, 0, 0, 80, 60, 8.0, 6);
    TBgrPicture clamped(80, 60), limit(80, 60), none(80, 60);
    ASSERT_EQ(Filter(src, clamped, 50, 99, 12), 0);
    ASSERT_EQ(Filter(src, limit, 10, 10, 10), 0);
    EXPECT_EQ(clamped.data, limit.data);
    ASSERT_EQ(Filter(src, none, -3, -1, 4), 0);
    EXPECT_EQ(none.data, src.data);
}

TEST(BeautyFilterTest, RefusesBadArgumentsAndWritesNothing) {
    TBgrPicture src(16, 8);
    TBgrPicture dst(16, 8);
    std::fill(dst.data.begin(), dst.data.end(), 7);
    EXPECT_EQ(Beauty()(nullptr, dst.data.data(), 16, 8, 48, 5, 5, 5), kModuleBadArgument);
    EXPECT_EQ(Beauty()(src.data.data(), nullptr, 16, 8, 48, 5, 5, 5), kModuleBadArgument);
    EXPECT_EQ(Beauty()(src.data.data(), dst.data.data(), 16, 8, 47, 5, 5, 5), kModuleBadArgument);
    EXPECT_EQ(Beauty()(src.data.data(), dst.data.data(), 0, 8, 48, 5, 5, 5), kModuleBadArgument);
    EXPECT_EQ(dst.data, std::vector<uint8_t>(dst.data.size(), 7));
}

}  // namespace
}  // namespace moduletest
