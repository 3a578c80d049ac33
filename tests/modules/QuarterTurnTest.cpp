// Ordinals 4 and 6 of "TBeautySkin.dat": quarter turns.

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "tests/modules/BeautyModule.h"

namespace moduletest {
namespace {

// A packed picture with any pixel size; every pixel distinct.
struct TPacked {
    int32_t width, height, bytes, linesize;
    std::vector<uint8_t> data;

    TPacked(int32_t w, int32_t h, int32_t b, int32_t padding = 0)
        : width(w),
          height(h),
          bytes(b),
          linesize(w * b + padding),
          data(static_cast<size_t>(linesize) * h, 0xEE) {}

    uint8_t* Pixel(int32_t x, int32_t y) { return data.data() + y * linesize + x * bytes; }

    void FillDistinct() {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                for (int32_t c = 0; c < bytes; ++c) {
                    Pixel(x, y)[c] = static_cast<uint8_t>(x * 7 + y * 13 + c * 101);
                }
            }
        }
    }

    bool SamePixels(TPacked& other) {
        for (int32_t y = 0; y < height; ++y) {
            if (std::memcmp(Pixel(0, y), other.Pixel(0, y), static_cast<size_t>(width * bytes)) !=
                0) {
                return false;
            }
        }
        return true;
    }
};

// Row padding below one pixel per row, in whole 32-bit words for 4-byte
// pixels (the fast path's rows).
int32_t PaddingFor(int32_t width, int32_t bytes) {
    if (width <= bytes) return 0;
    return bytes == 4 ? 4 : 1;
}

int32_t Turn(TurnFn turn, TPacked& src, TPacked& dst) {
    return turn(src.data.data(), dst.data.data(), src.width, src.height, src.linesize, dst.width,
                dst.height, dst.linesize);
}

struct TTurnCase {
    int32_t width, height, bytes;
};

class QuarterTurnTest : public ::testing::TestWithParam<TTurnCase> {};

TEST_P(QuarterTurnTest, OrdinalFourTurnsClockwiseAndSixBack) {
    const TTurnCase c = GetParam();
    ASSERT_NE(TurnClockwise(), nullptr);
    ASSERT_NE(TurnCounterClockwise(), nullptr);
    // Source padding stays below one pixel per row (bytes per pixel are the
    // line size over the width), in whole words for 4-byte pixels.
    TPacked src(c.width, c.height, c.bytes, PaddingFor(c.width, c.bytes));
    src.FillDistinct();
    // Padding below one pixel per row again, so that the way back reads the
    // same bytes per pixel.
    TPacked turned(c.height, c.width, c.bytes, PaddingFor(c.height, c.bytes));
    TPacked back(c.width, c.height, c.bytes, PaddingFor(c.width, c.bytes));

    ASSERT_EQ(Turn(TurnClockwise(), src, turned), 0);
    ASSERT_EQ(Turn(TurnCounterClockwise(), turned, back), 0);

    EXPECT_TRUE(back.SamePixels(src));
    // Clockwise: source (x, y) lands at (height - 1 - y, x).
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            ASSERT_EQ(std::memcmp(turned.Pixel(c.height - 1 - y, x), src.Pixel(x, y), c.bytes), 0);
        }
    }
    // Row padding of the destination is left alone.
    for (int32_t y = 0; y < turned.height; ++y) {
        for (int32_t i = turned.width * c.bytes; i < turned.linesize; ++i) {
            ASSERT_EQ(turned.data[y * turned.linesize + i], 0xEE);
        }
    }
}

TEST_P(QuarterTurnTest, SixThenFourAlsoGivesThePictureBack) {
    const TTurnCase c = GetParam();
    TPacked src(c.width, c.height, c.bytes);
    src.FillDistinct();
    TPacked turned(c.height, c.width, c.bytes);
    TPacked back(c.width, c.height, c.bytes);
    ASSERT_EQ(Turn(TurnCounterClockwise(), src, turned), 0);
    ASSERT_EQ(Turn(TurnClockwise(), turned, back), 0);
    EXPECT_TRUE(back.SamePixels(src));
    // Counter-clockwise: source (x, y) lands at (y, width - 1 - x).
    EXPECT_EQ(std::memcmp(turned.Pixel(0, c.width - 1), src.Pixel(0, 0), c.bytes), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, QuarterTurnTest,
                         ::testing::Values(TTurnCase{64, 48, 4}, TTurnCase{37, 70, 4},
                                           TTurnCase{37, 70, 3}, TTurnCase{100, 33, 3},
                                           TTurnCase{37, 70, 2}, TTurnCase{100, 33, 2},
                                           TTurnCase{1, 9, 3}, TTurnCase{9, 1, 2}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height) + "_" +
                                    std::to_string(info.param.bytes) + "bytes";
                         });

// Rows that are not whole 32-bit words take the general path.
TEST(QuarterTurnTest, TurnsFourBytePixelsOnOddLineSizes) {
    TPacked src(37, 21, 4, 3);
    src.FillDistinct();
    TPacked turned(21, 37, 4, 1);
    TPacked back(37, 21, 4, 2);
    ASSERT_EQ(Turn(TurnClockwise(), src, turned), 0);
    ASSERT_EQ(Turn(TurnCounterClockwise(), turned, back), 0);
    EXPECT_TRUE(back.SamePixels(src));
    EXPECT_EQ(std::memcmp(turned.Pixel(20, 0), src.Pixel(0, 0), 4), 0);
}

TEST(QuarterTurnFailureTest, RefusesOtherPixelSizes) {
    TPacked one(8, 4, 1);
    TPacked oneTurned(4, 8, 1);
    EXPECT_EQ(Turn(TurnClockwise(), one, oneTurned), kModuleUnsupported);
    TPacked five(8, 4, 5);
    TPacked fiveTurned(4, 8, 5);
    EXPECT_EQ(Turn(TurnCounterClockwise(), five, fiveTurned), kModuleUnsupported);
    EXPECT_EQ(fiveTurned.data, std::vector<uint8_t>(fiveTurned.data.size(), 0xEE));
}

TEST(QuarterTurnFailureTest, RefusesSizesThatDoNotSwap) {
    TPacked src(8, 4, 4);
    TPacked same(8, 4, 4);
    EXPECT_EQ(Turn(TurnClockwise(), src, same), kModuleBadArgument);
    TPacked turned(4, 8, 4);
    EXPECT_EQ(TurnClockwise()(src.data.data(), turned.data.data(), 8, 4, src.linesize, 4, 8, 15),
              kModuleBadArgument);
    EXPECT_EQ(TurnClockwise()(nullptr, turned.data.data(), 8, 4, src.linesize, 4, 8, 16),
              kModuleBadArgument);
    EXPECT_EQ(turned.data, std::vector<uint8_t>(turned.data.size(), 0xEE));
}

// A turn cannot work in place: the destination would overwrite pixels not
// yet read.
TEST(QuarterTurnFailureTest, RefusesOverlappingBuffers) {
    TPacked picture(8, 8, 4);
    picture.FillDistinct();
    const std::vector<uint8_t> before = picture.data;
    EXPECT_EQ(Turn(TurnClockwise(), picture, picture), kModuleBadArgument);
    // The lower half of a 4 x 4 source turned into its own upper half's rows.
    EXPECT_EQ(TurnClockwise()(picture.data.data(), picture.data.data() + 32, 4, 4, 16, 4, 4, 16),
              kModuleBadArgument);
    EXPECT_EQ(picture.data, before);
}

TEST(ProbeTest, OrdinalOneReturnsZero) {
    const auto probe = BeautySkin().Entry<ProbeFn>(1);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(nullptr, nullptr, 0, 0, 0), 0);
}

}  // namespace
}  // namespace moduletest
