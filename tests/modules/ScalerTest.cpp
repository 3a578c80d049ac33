// The scaler of "Gxrl.dat" (ordinal 164) through the calling interface.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "tests/modules/GxrlModule.h"

namespace moduletest {
namespace {

struct TResize {
    int32_t srcWidth, srcHeight, dstWidth, dstHeight;
};

// Down and up by uneven factors, odd sizes, and to a single pixel.
constexpr TResize kResizes[] = {
    {64, 36, 40, 24}, {40, 24, 64, 36}, {37, 21, 18, 11}, {17, 9, 33, 19}, {16, 8, 1, 1},
};

constexpr int32_t kScaledCodes[] = {kPixCodeYuyv422,  kPixCodeUyvy422, kPixCodeBgr24,
                                    kPixCodeBgra,     kPixCodeGray8,   kPixCodeYuv420p,
                                    kPixCodeYuvj422p, kPixCodeNv12};

int32_t ScaleOnce(const TPictureBuffer& src, TPictureBuffer& dst) {
    TScalerPtr scaler = NewScaler();
    if (!scaler) return -1;
    const int32_t configured =
        scaler->Configure(dst.Width(), dst.Height(), src.Width(), src.Height(), src.Code());
    if (configured != 0) return configured;
    return scaler->Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), src.Linesizes());
}

// Every byte of a plane set by f(plane, row, byte).
template <typename F>
void FillPlanes(TPictureBuffer& picture, F f) {
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        for (int32_t y = 0; y < picture.Rows(plane); ++y) {
            for (int32_t i = 0; i < picture.RowBytes(plane); ++i) {
                picture.At(plane, y, i) = static_cast<uint8_t>(f(plane, y, i));
            }
        }
    }
}

// A flat value per kind of sample: each channel of BGR(A), luma and each
// chroma of packed pairs and of NV12, each plane of the planar codes.
int FlatValue(int32_t code, int plane, int32_t byte) {
    switch (code) {
        case kPixCodeBgr24:
            return 40 + 9 * (byte % 3);
        case kPixCodeBgra:
            return 40 + 9 * (byte % 4);
        case kPixCodeYuyv422:
            return byte % 2 == 0 ? 40 : (byte % 4 == 1 ? 100 : 150);
        case kPixCodeUyvy422:
            return byte % 2 == 1 ? 40 : (byte % 4 == 0 ? 100 : 150);
        case kPixCodeNv12:
            return plane == 0 ? 40 : (byte % 2 == 0 ? 100 : 150);
        default:
            return 40 + 50 * plane;
    }
}

class ScalerSizeTest : public ::testing::TestWithParam<std::tuple<int32_t, TResize>> {};

TEST_P(ScalerSizeTest, FillsTheDestinationSizeAndKeepsFlatPlanesFlat) {
    const auto [code, resize] = GetParam();
    TPictureBuffer src(code, resize.srcWidth, resize.srcHeight, 3);
    FillPlanes(src,
               [code](int plane, int32_t, int32_t byte) { return FlatValue(code, plane, byte); });
    TPictureBuffer dst(code, resize.dstWidth, resize.dstHeight, 5);

    ASSERT_EQ(ScaleOnce(src, dst), 0);

    EXPECT_TRUE(dst.PaddingIntact());
    for (int plane = 0; plane < dst.PlaneCount(); ++plane) {
        for (int32_t y = 0; y < dst.Rows(plane); ++y) {
            for (int32_t i = 0; i < dst.RowBytes(plane); ++i) {
                ASSERT_EQ(dst.At(plane, y, i), FlatValue(code, plane, i))
                    << "plane " << plane << " row " << y << " byte " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, ScalerSizeTest,
                         ::testing::Combine(::testing::ValuesIn(kScaledCodes),
                                            ::testing::ValuesIn(kResizes)),
                         [](const auto& info) {
                             const TResize r = std::get<1>(info.param);
                             return std::to_string(std::get<0>(info.param)) + "_" +
                                    std::to_string(r.srcWidth) + "x" + std::to_string(r.srcHeight) +
                                    "_to_" + std::to_string(r.dstWidth) + "x" +
                                    std::to_string(r.dstHeight);
                         });

TEST(ScalerTest, SameSizeCopiesExactly) {
    for (int32_t code : kScaledCodes) {
        TPictureBuffer src(code, 37, 21, 2);
        FillPlanes(src, [](int plane, int32_t y, int32_t i) { return y * 31 + i * 7 + plane; });
        TPictureBuffer dst(code, 37, 21);
        ASSERT_EQ(ScaleOnce(src, dst), 0) << code;
        EXPECT_EQ(dst.MaxDifference(src), 0) << code;
    }
}

// A linear ramp resampled bilinearly stays the ramp at the mapped
// positions: source x at (x + 0.5) * srcWidth / dstWidth - 0.5.
TEST(ScalerTest, ResamplesARampBilinearly) {
    TPictureBuffer src(kPixCodeGray8, 100, 10);
    FillPlanes(src, [](int, int32_t, int32_t x) { return 20 + 2 * x; });
    TPictureBuffer dst(kPixCodeGray8, 60, 7);
    ASSERT_EQ(ScaleOnce(src, dst), 0);
    for (int32_t x = 0; x < 60; ++x) {
        const double position = std::clamp((x + 0.5) * 100.0 / 60.0 - 0.5, 0.0, 99.0);
        ASSERT_NEAR(dst.At(0, 3, x), 20 + 2 * position, 1.0) << x;
    }
}

// Every byte against bilinear sampling computed directly from the four
// source pixels with the weights rounded to 1/256, on noise:
// enlarging, shrinking and keeping either side, widths that leave a
// remainder to the vector passes, and a source one pixel wide.
TEST(ScalerTest, MatchesDirectBilinearSamplingOnNoise) {
    struct TCase {
        int32_t code;
        TResize resize;
    };
    const TCase cases[] = {
        {kPixCodeBgra, {40, 24, 61, 37}},  {kPixCodeBgra, {61, 37, 40, 24}},
        {kPixCodeBgra, {37, 21, 37, 40}},  {kPixCodeBgra, {37, 40, 53, 40}},
        {kPixCodeBgra, {1, 6, 5, 9}},      {kPixCodeBgra, {2, 2, 7, 5}},
        {kPixCodeBgra, {128, 72, 192, 108}}, {kPixCodeBgr24, {40, 24, 61, 37}},
        {kPixCodeBgr24, {61, 37, 40, 24}}, {kPixCodeGray8, {23, 17, 50, 31}},
        {kPixCodeNv12, {40, 24, 62, 38}},
    };
    for (const TCase& test : cases) {
        const TResize& r = test.resize;
        TPictureBuffer src(test.code, r.srcWidth, r.srcHeight, 3);
        FillPlanes(src, [](int plane, int32_t y, int32_t i) {
            return (y * 7919 + i * 104729 + plane * 31) % 251;
        });
        TPictureBuffer dst(test.code, r.dstWidth, r.dstHeight, 1);
        ASSERT_EQ(ScaleOnce(src, dst), 0);
        EXPECT_TRUE(dst.PaddingIntact());
        for (int plane = 0; plane < dst.PlaneCount(); ++plane) {
            const int32_t channels = src.RowBytes(plane) / (plane == 0 ? r.srcWidth : (r.srcWidth + 1) / 2);
            const int32_t srcPixels = src.RowBytes(plane) / channels;
            const int32_t dstPixels = dst.RowBytes(plane) / channels;
            auto position = [](int32_t i, int32_t from, int32_t to) {
                return std::clamp((i + 0.5) * from / to - 0.5, 0.0, from - 1.0);
            };
            auto weight = [](double position) {
                return std::round((position - std::floor(position)) * 256) / 256;
            };
            for (int32_t y = 0; y < dst.Rows(plane); ++y) {
                const double sy = position(y, src.Rows(plane), dst.Rows(plane));
                const auto y0 = static_cast<int32_t>(sy);
                const int32_t y1 = std::min(y0 + 1, src.Rows(plane) - 1);
                const double wy = weight(sy);
                for (int32_t x = 0; x < dstPixels; ++x) {
                    const double sx = position(x, srcPixels, dstPixels);
                    const auto x0 = static_cast<int32_t>(sx);
                    const int32_t x1 = std::min(x0 + 1, srcPixels - 1);
                    const double wx = weight(sx);
                    for (int32_t c = 0; c < channels; ++c) {
                        auto at = [&](int32_t row, int32_t column) {
                            return static_cast<double>(src.At(plane, row, column * channels + c));
                        };
                        const double top = at(y0, x0) + (at(y0, x1) - at(y0, x0)) * wx;
                        const double bottom = at(y1, x0) + (at(y1, x1) - at(y1, x0)) * wx;
                        const double expected = top + (bottom - top) * wy;
                        ASSERT_NEAR(dst.At(plane, y, x * channels + c), expected, 0.5 + 1e-9)
                            << "code " << test.code << " " << r.srcWidth << "x" << r.srcHeight
                            << " to " << r.dstWidth << "x" << r.dstHeight << " plane " << plane
                            << " row " << y << " pixel " << x << " channel " << c;
                    }
                }
            }
        }
    }
}

// Luma and chroma of a packed 4:2:2 row are resampled apart: flat chroma
// stays exactly flat under a luma ramp.
TEST(ScalerTest, KeepsPackedLumaAndChromaApart) {
    TPictureBuffer src(kPixCodeYuyv422, 64, 4);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 64; ++x) src.At(0, y, 2 * x) = static_cast<uint8_t>(16 + 3 * x);
        for (int32_t pair = 0; pair < 32; ++pair) {
            src.At(0, y, 4 * pair + 1) = 90;
            src.At(0, y, 4 * pair + 3) = 200;
        }
    }
    TPictureBuffer dst(kPixCodeYuyv422, 27, 3);
    ASSERT_EQ(ScaleOnce(src, dst), 0);
    for (int32_t pair = 0; pair < 14; ++pair) {
        ASSERT_EQ(dst.At(0, 1, 4 * pair + 1), 90);
        ASSERT_EQ(dst.At(0, 1, 4 * pair + 3), 200);
    }
    for (int32_t x = 1; x < 27; ++x) ASSERT_GT(dst.At(0, 1, 2 * x), dst.At(0, 1, 2 * (x - 1)));
}

TEST(ScalerTest, ConfigureRefusesUnknownCodesAndSizes) {
    TScalerPtr scaler = NewScaler();
    ASSERT_TRUE(scaler);
    EXPECT_EQ(scaler->Configure(64, 48, 32, 24, 5), kModuleUnsupported);
    EXPECT_EQ(scaler->Configure(0, 48, 32, 24, kPixCodeBgra), kModuleBadArgument);
    EXPECT_EQ(scaler->Configure(64, 48, 32, -1, kPixCodeBgra), kModuleBadArgument);
    EXPECT_EQ(scaler->Configure(64, 48, 40000, 24, kPixCodeBgra), kModuleBadArgument);
}

TEST(ScalerTest, RunRefusesBeforeConfigureAndWithShortLines) {
    TPictureBuffer src(kPixCodeBgr24, 32, 24);
    TPictureBuffer dst(kPixCodeBgr24, 16, 12);
    TScalerPtr scaler = NewScaler();
    ASSERT_TRUE(scaler);
    EXPECT_EQ(scaler->Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), src.Linesizes()),
              kModuleNotConfigured);
    ASSERT_EQ(scaler->Configure(16, 12, 32, 24, kPixCodeBgr24), 0);
    const int32_t shortLine[1] = {16 * 3 - 1};
    EXPECT_EQ(scaler->Run(dst.Planes(), shortLine, src.ConstPlanes(), src.Linesizes()),
              kModuleBadArgument);
    EXPECT_EQ(dst.At(0, 0, 0), TPictureBuffer::kSentinel);
}

}  // namespace
}  // namespace moduletest
