// The converter of "Gxrl.dat" (ordinal 159) through the calling interface.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

#include "tests/modules/GxrlModule.h"

namespace moduletest {
namespace {

struct TSize {
    int32_t width;
    int32_t height;
    int32_t padding;
};

// 64 x 48 unpadded, then odd sizes with padded rows (odd widths make the
// packed 4:2:2 and 4:2:0 codes end on half a pixel pair).
constexpr TSize kSizes[] = {{64, 48, 0}, {37, 21, 7}, {1, 1, 3}, {3, 5, 1}};

std::string SizeName(const TSize& size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height) + "p" +
           std::to_string(size.padding);
}

int BytesPerPixel(int32_t code) { return code == kPixCodeBgra ? 4 : 3; }

// An RGB picture and the code it goes through and comes back from.
struct TRoundTrip {
    int32_t rgb;
    int32_t via;
};

class RoundTripTest : public ::testing::TestWithParam<std::tuple<TRoundTrip, TSize>> {};

// BGR24 <-> YUYV (the engine's output conversion and its input one), BGRA
// <-> NV12 and BGR24 <-> NV12 (the recorder), BGR24 <-> YUVJ422P (cameras),
// and the other codes the engine maps.
TEST_P(RoundTripTest, ComesBackWithinTwoLevels) {
    const auto [trip, size] = GetParam();
    TPictureBuffer original(trip.rgb, size.width, size.height, size.padding);
    FillSmoothBgr(original, BytesPerPixel(trip.rgb));
    TPictureBuffer middle(trip.via, size.width, size.height, size.padding);
    TPictureBuffer back(trip.rgb, size.width, size.height, size.padding);

    ASSERT_EQ(Convert(original, middle), 0);
    ASSERT_EQ(Convert(middle, back), 0);

    EXPECT_LE(back.MaxDifference(original), 2) << back.WhereMaxDifference(original);
    EXPECT_TRUE(middle.PaddingIntact());
    EXPECT_TRUE(back.PaddingIntact());
}

constexpr TRoundTrip kRoundTrips[] = {
    {kPixCodeBgr24, kPixCodeYuyv422}, {kPixCodeBgra, kPixCodeNv12},
    {kPixCodeBgr24, kPixCodeNv12},    {kPixCodeBgr24, kPixCodeYuvj422p},
    {kPixCodeBgra, kPixCodeYuyv422},  {kPixCodeBgr24, kPixCodeUyvy422},
    {kPixCodeBgr24, kPixCodeYuv420p}, {kPixCodeBgr24, kPixCodeBgra},
    {kPixCodeBgra, kPixCodeYuvj422p},
};

INSTANTIATE_TEST_SUITE_P(Codes, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kRoundTrips),
                                            ::testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                             const TRoundTrip trip = std::get<0>(info.param);
                             return std::to_string(trip.rgb) + "_via_" + std::to_string(trip.via) +
                                    "_" + SizeName(std::get<1>(info.param));
                         });

TEST(ConverterTest, BgrAndBgraConvertLosslessly) {
    TPictureBuffer bgr(kPixCodeBgr24, 37, 21, 5);
    FillSmoothBgr(bgr, 3);
    TPictureBuffer bgra(kPixCodeBgra, 37, 21, 3);
    TPictureBuffer back(kPixCodeBgr24, 37, 21, 1);
    ASSERT_EQ(Convert(bgr, bgra), 0);
    ASSERT_EQ(Convert(bgra, back), 0);
    EXPECT_EQ(back.MaxDifference(bgr), 0);
    for (int32_t y = 0; y < 21; ++y) {
        for (int32_t x = 0; x < 37; ++x) ASSERT_EQ(bgra.At(0, y, 4 * x + 3), 255);
    }
}

// A pair as callers use it, compared with libswscale doing the same.
struct TPair {
    int32_t src;
    int32_t dst;
};

class AgainstSwscaleTest : public ::testing::TestWithParam<std::tuple<TPair, TSize>> {};

TEST_P(AgainstSwscaleTest, AgreesWithinTwoLevels) {
    const auto [pair, size] = GetParam();
    // A smooth source in the pair's source code, made from smooth BGR.
    TPictureBuffer bgr(kPixCodeBgr24, size.width, size.height);
    FillSmoothBgr(bgr, 3);
    TPictureBuffer source(pair.src, size.width, size.height, size.padding);
    ConvertWithSwscale(bgr, source);
    TPictureBuffer expected(pair.dst, size.width, size.height, size.padding);
    ConvertWithSwscale(source, expected);
    TPictureBuffer actual(pair.dst, size.width, size.height, size.padding);

    ASSERT_EQ(Convert(source, actual), 0);

    EXPECT_LE(actual.MaxDifference(expected), 2) << actual.WhereMaxDifference(expected);
    EXPECT_TRUE(actual.PaddingIntact());
}

// The engine's input conversions (to YUYV), its output conversion and
// compositor conversions, the preview's, and the recorder's towards NV12.
constexpr TPair kPairs[] = {
    {kPixCodeBgra, kPixCodeYuyv422},     {kPixCodeBgr24, kPixCodeYuyv422},
    {kPixCodeYuvj422p, kPixCodeYuyv422}, {kPixCodeYuv420p, kPixCodeYuyv422},
    {kPixCodeUyvy422, kPixCodeYuyv422},  {kPixCodeNv12, kPixCodeYuyv422},
    {kPixCodeYuyv422, kPixCodeBgr24},    {kPixCodeUyvy422, kPixCodeBgr24},
    {kPixCodeYuvj422p, kPixCodeBgr24},   {kPixCodeYuyv422, kPixCodeBgra},
    {kPixCodeBgra, kPixCodeBgr24},       {kPixCodeBgr24, kPixCodeBgra},
    {kPixCodeBgr24, kPixCodeNv12},       {kPixCodeBgra, kPixCodeNv12},
    {kPixCodeYuyv422, kPixCodeNv12},     {kPixCodeYuv420p, kPixCodeNv12},
    {kPixCodeUyvy422, kPixCodeNv12},     {kPixCodeYuvj422p, kPixCodeNv12},
    {kPixCodeNv12, kPixCodeBgra},        {kPixCodeYuv420p, kPixCodeBgr24},
    {kPixCodeBgra, kPixCodeUyvy422},     {kPixCodeYuyv422, kPixCodeYuv420p},
};

// Even sizes only: at odd ones libswscale itself reads past the picture for
// the last chroma column and row, so it is no reference there (the exact
// tests below cover odd sizes).
INSTANTIATE_TEST_SUITE_P(Pairs, AgainstSwscaleTest,
                         ::testing::Combine(::testing::ValuesIn(kPairs),
                                            ::testing::Values(TSize{64, 48, 0}, TSize{38, 22, 7})),
                         [](const auto& info) {
                             const TPair pair = std::get<0>(info.param);
                             return std::to_string(pair.src) + "_to_" + std::to_string(pair.dst) +
                                    "_" + SizeName(std::get<1>(info.param));
                         });

// ---- Exactness against BT.601 itself, at an odd size ------------------------

struct TMatrix {
    double lumaOffset, lumaScale;  // Y' = (Y - offset) * scale
    double bU, gU, gV, rV;
};

constexpr TMatrix kLimited = {16, 1.164383, 2.017232, -0.391762, -0.812968, 1.596027};
constexpr TMatrix kFull = {0, 1.0, 1.772, -0.344136, -0.714136, 1.402};

int RoundAndClamp(double v) { return std::clamp(static_cast<int>(std::floor(v + 0.5)), 0, 255); }

// Random bytes, reproducible: every combination of samples, also outside
// the nominal ranges.
void FillRandom(TPictureBuffer& picture, unsigned seed) {
    std::mt19937 random(seed);
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        for (int32_t y = 0; y < picture.Rows(plane); ++y) {
            for (int32_t i = 0; i < picture.RowBytes(plane); ++i) {
                picture.At(plane, y, i) = static_cast<uint8_t>(random());
            }
        }
    }
}

class YuvToRgbExactTest : public ::testing::TestWithParam<std::tuple<int32_t, int32_t>> {};

TEST_P(YuvToRgbExactTest, EveryPixelWithinOneLevel) {
    const auto [yuvCode, rgbCode] = GetParam();
    TPictureBuffer yuv(yuvCode, 37, 21, 3);
    FillRandom(yuv, 17);
    TPictureBuffer rgb(rgbCode, 37, 21, 5);
    ASSERT_EQ(Convert(yuv, rgb), 0);

    const TMatrix& m = yuvCode == kPixCodeYuvj422p ? kFull : kLimited;
    const int bytes = BytesPerPixel(rgbCode);
    for (int32_t y = 0; y < 21; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            const double luma = (YuvSample(yuv, 0, x, y) - m.lumaOffset) * m.lumaScale;
            const double u = YuvSample(yuv, 1, x, y) - 128.0;
            const double v = YuvSample(yuv, 2, x, y) - 128.0;
            const int expected[3] = {RoundAndClamp(luma + m.bU * u),
                                     RoundAndClamp(luma + m.gU * u + m.gV * v),
                                     RoundAndClamp(luma + m.rV * v)};
            for (int c = 0; c < 3; ++c) {
                ASSERT_NEAR(rgb.At(0, y, bytes * x + c), expected[c], 1)
                    << "pixel " << x << "," << y << " channel " << c;
            }
        }
    }
    EXPECT_TRUE(rgb.PaddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Codes, YuvToRgbExactTest,
                         ::testing::Combine(::testing::Values(kPixCodeYuyv422, kPixCodeUyvy422,
                                                              kPixCodeYuv420p, kPixCodeYuvj422p,
                                                              kPixCodeNv12),
                                            ::testing::Values(kPixCodeBgr24, kPixCodeBgra)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_to_" +
                                    std::to_string(std::get<1>(info.param));
                         });

struct TForward {
    double lumaOffset;
    double y[3], u[3], v[3];  // per B, G, R
};

constexpr TForward kToLimited = {16,
                                 {0.097906, 0.504129, 0.256788},
                                 {0.439216, -0.290993, -0.148223},
                                 {-0.071427, -0.367788, 0.439216}};
constexpr TForward kToFull = {
    0, {0.114, 0.587, 0.299}, {0.5, -0.331264, -0.168736}, {-0.081312, -0.418688, 0.5}};

class RgbToYuvExactTest : public ::testing::TestWithParam<std::tuple<int32_t, int32_t>> {};

// Luma of every pixel; chroma of the mean colour of the pixels a chroma
// sample covers (two columns, and two rows for 4:2:0; fewer at odd edges).
TEST_P(RgbToYuvExactTest, EverySampleWithinOneLevel) {
    const auto [rgbCode, yuvCode] = GetParam();
    TPictureBuffer rgb(rgbCode, 37, 21, 2);
    FillRandom(rgb, 23);
    TPictureBuffer yuv(yuvCode, 37, 21, 6);
    ASSERT_EQ(Convert(rgb, yuv), 0);

    const bool full = yuvCode == kPixCodeYuvj422p || yuvCode == kPixCodeGray8;
    const TForward& m = full ? kToFull : kToLimited;
    const int bytes = BytesPerPixel(rgbCode);
    const bool halfHeight = yuvCode == kPixCodeYuv420p || yuvCode == kPixCodeNv12;
    auto channel = [&](int32_t x, int32_t y, int c) { return rgb.At(0, y, bytes * x + c); };
    for (int32_t y = 0; y < 21; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            double luma = m.lumaOffset;
            for (int c = 0; c < 3; ++c) luma += m.y[c] * channel(x, y, c);
            ASSERT_NEAR(YuvSample(yuv, 0, x, y), RoundAndClamp(luma), 1) << x << "," << y;
            if (yuvCode == kPixCodeGray8) continue;

            double mean[3] = {};
            const int32_t x0 = x / 2 * 2, y0 = halfHeight ? y / 2 * 2 : y;
            const int32_t x1 = std::min(x0 + 1, 36), y1 = halfHeight ? std::min(y0 + 1, 20) : y0;
            for (int c = 0; c < 3; ++c) {
                mean[c] = (channel(x0, y0, c) + channel(x1, y0, c) + channel(x0, y1, c) +
                           channel(x1, y1, c)) /
                          4.0;
            }
            double u = 128, v = 128;
            for (int c = 0; c < 3; ++c) {
                u += m.u[c] * mean[c];
                v += m.v[c] * mean[c];
            }
            ASSERT_NEAR(YuvSample(yuv, 1, x, y), RoundAndClamp(u), 1) << x << "," << y;
            ASSERT_NEAR(YuvSample(yuv, 2, x, y), RoundAndClamp(v), 1) << x << "," << y;
        }
    }
    EXPECT_TRUE(yuv.PaddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Codes, RgbToYuvExactTest,
                         ::testing::Combine(::testing::Values(kPixCodeBgr24, kPixCodeBgra),
                                            ::testing::Values(kPixCodeYuyv422, kPixCodeUyvy422,
                                                              kPixCodeYuv420p, kPixCodeYuvj422p,
                                                              kPixCodeNv12, kPixCodeGray8)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_to_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Full range to limited range for every byte value, by the exact mapping.
TEST(ConverterTest, MapsEveryFullRangeValueExactly) {
    TPictureBuffer full(kPixCodeYuvj422p, 512, 1);
    for (int32_t x = 0; x < 512; ++x) full.At(0, 0, x) = static_cast<uint8_t>(x / 2);
    for (int32_t k = 0; k < 256; ++k) {
        full.At(1, 0, k) = static_cast<uint8_t>(k);
        full.At(2, 0, k) = static_cast<uint8_t>(255 - k);
    }
    TPictureBuffer limited(kPixCodeYuyv422, 512, 1);
    ASSERT_EQ(Convert(full, limited), 0);
    for (int32_t k = 0; k < 256; ++k) {
        ASSERT_EQ(YuvSample(limited, 0, 2 * k, 0), std::lround(16 + k * 219 / 255.0)) << k;
        ASSERT_EQ(YuvSample(limited, 1, 2 * k, 0), std::lround(128 + (k - 128) * 224 / 255.0)) << k;
        ASSERT_EQ(YuvSample(limited, 2, 2 * k, 0), std::lround(128 + (255 - k - 128) * 224 / 255.0))
            << k;
    }
}

// Every pair of codes, direct routines and the way through BGRA alike: the
// picture converted to the destination code shows the same colours as the
// source (chroma resampled between 4:2:2 and 4:2:0 on a smooth picture).
TEST(ConverterTest, EveryPairOfCodesKeepsThePicture) {
    constexpr int32_t kCodes[] = {kPixCodeBgr24, kPixCodeBgra,    kPixCodeYuyv422,  kPixCodeUyvy422,
                                  kPixCodeGray8, kPixCodeYuv420p, kPixCodeYuvj422p, kPixCodeNv12};
    TPictureBuffer bgr(kPixCodeBgr24, 37, 21);
    FillSmoothBgr(bgr, 3);
    for (int32_t src : kCodes) {
        TPictureBuffer source(src, 37, 21, 3);
        ASSERT_EQ(Convert(bgr, source), 0) << src;
        TPictureBuffer expected(kPixCodeBgr24, 37, 21);
        ASSERT_EQ(Convert(source, expected), 0) << src;
        for (int32_t dst : kCodes) {
            // Grey keeps no colour to compare.
            if (dst == kPixCodeGray8 && src != kPixCodeGray8) continue;
            TPictureBuffer converted(dst, 37, 21, 5);
            ASSERT_EQ(Convert(source, converted), 0) << src << " -> " << dst;
            EXPECT_TRUE(converted.PaddingIntact()) << src << " -> " << dst;
            TPictureBuffer shown(kPixCodeBgr24, 37, 21);
            ASSERT_EQ(Convert(converted, shown), 0) << src << " -> " << dst;
            EXPECT_LE(shown.MaxDifference(expected), 4)
                << src << " -> " << dst << ": " << shown.WhereMaxDifference(expected);
        }
    }
}

// Limited range puts black at 16 and white at 235; YUVJ422P uses all of 0..255.
TEST(ConverterTest, KeepsTheRangeOfEachYuvCode) {
    TPictureBuffer full(kPixCodeYuvj422p, 4, 2);
    TPictureBuffer limited(kPixCodeYuyv422, 4, 2);
    for (int32_t y = 0; y < 2; ++y) {
        std::memcpy(full.Row(0, y), "\x00\x00\xff\xff", 4);
        std::memset(full.Row(1, y), 128, 2);
        std::memset(full.Row(2, y), 128, 2);
    }
    ASSERT_EQ(Convert(full, limited), 0);
    EXPECT_NEAR(limited.At(0, 0, 0), 16, 1);
    EXPECT_NEAR(limited.At(0, 0, 4), 235, 1);
    EXPECT_NEAR(limited.At(0, 0, 1), 128, 1);

    TPictureBuffer bgr(kPixCodeBgr24, 4, 2);
    ASSERT_EQ(Convert(limited, bgr), 0);
    EXPECT_LE(bgr.At(0, 0, 0), 1);
    EXPECT_GE(bgr.At(0, 0, 9), 254);
    ASSERT_EQ(Convert(full, bgr), 0);
    EXPECT_EQ(bgr.At(0, 1, 0), 0);
    EXPECT_EQ(bgr.At(0, 1, 11), 255);
}

TEST(ConverterTest, SameCodeCopiesExactly) {
    for (int32_t code : {kPixCodeYuyv422, kPixCodeNv12, kPixCodeYuvj422p, kPixCodeGray8}) {
        TPictureBuffer src(code, 37, 21, 2);
        for (int plane = 0; plane < src.PlaneCount(); ++plane) {
            for (int32_t y = 0; y < src.Rows(plane); ++y) {
                for (int32_t i = 0; i < src.RowBytes(plane); ++i) {
                    src.At(plane, y, i) = static_cast<uint8_t>(y * 31 + i * 7 + plane);
                }
            }
        }
        TPictureBuffer dst(code, 37, 21, 9);
        ASSERT_EQ(Convert(src, dst), 0) << code;
        EXPECT_EQ(dst.MaxDifference(src), 0) << code;
        EXPECT_TRUE(dst.PaddingIntact()) << code;
    }
}

// A bottom-up source: its first row pointer at the last row, a negative
// line size.
TEST(ConverterTest, ReadsBottomUpPictures) {
    TPictureBuffer bgra(kPixCodeBgra, 9, 4);
    FillSmoothBgr(bgra, 4);
    const uint8_t* planes[1] = {bgra.Row(0, 3)};
    const int32_t linesizes[1] = {-bgra.Linesizes()[0]};
    TPictureBuffer bgr(kPixCodeBgr24, 9, 4);
    TConverterPtr converter = NewConverter();
    ASSERT_TRUE(converter);
    ASSERT_EQ(converter->Configure(kPixCodeBgr24, 1, kPixCodeBgra, 1, 9, 4, 0, 1, 255, 1), 0);
    ASSERT_EQ(converter->Run(bgr.Planes(), bgr.Linesizes(), planes, linesizes), 0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 9; ++x) {
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(bgr.At(0, y, 3 * x + c), bgra.At(0, 3 - y, 4 * x + c));
            }
        }
    }
}

TEST(ConverterTest, ConfigureRefusesUnknownCodesAndSizes) {
    TConverterPtr converter = NewConverter();
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->Configure(7, 1, kPixCodeBgr24, 1, 64, 48, 0, 1, 255, 1),
              kModuleUnsupported);
    EXPECT_EQ(converter->Configure(kPixCodeNv12, 1, 999, 1, 64, 48, 0, 1, 255, 1),
              kModuleUnsupported);
    EXPECT_EQ(converter->Configure(kPixCodeNv12, 1, kPixCodeBgra, 1, 0, 48, 0, 1, 255, 1),
              kModuleBadArgument);
    EXPECT_EQ(converter->Configure(kPixCodeNv12, 1, kPixCodeBgra, 1, 64, 20000, 0, 1, 255, 1),
              kModuleBadArgument);
}

TEST(ConverterTest, RunsOnlyAfterASuccessfulConfigure) {
    TPictureBuffer src(kPixCodeBgra, 8, 8);
    TPictureBuffer dst(kPixCodeBgr24, 8, 8);
    TConverterPtr converter = NewConverter();
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), src.Linesizes()),
              kModuleNotConfigured);
    ASSERT_EQ(converter->Configure(kPixCodeBgr24, 1, kPixCodeBgra, 1, 8, 8, 0, 1, 255, 1), 0);
    // A failed Configure leaves the converter unusable, not half set up.
    ASSERT_NE(converter->Configure(kPixCodeBgr24, 1, 42, 1, 8, 8, 0, 1, 255, 1), 0);
    EXPECT_EQ(converter->Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), src.Linesizes()),
              kModuleNotConfigured);
}

TEST(ConverterTest, RunRefusesMissingPlanesAndShortLines) {
    TPictureBuffer src(kPixCodeBgra, 8, 8);
    TPictureBuffer dst(kPixCodeNv12, 8, 8);
    TConverterPtr converter = NewConverter();
    ASSERT_TRUE(converter);
    ASSERT_EQ(converter->Configure(kPixCodeNv12, 1, kPixCodeBgra, 1, 8, 8, 0, 1, 255, 1), 0);

    uint8_t* onlyLuma[2] = {dst.Planes()[0], nullptr};
    EXPECT_EQ(converter->Run(onlyLuma, dst.Linesizes(), src.ConstPlanes(), src.Linesizes()),
              kModuleBadArgument);
    const int32_t shortLines[1] = {8 * 4 - 1};
    EXPECT_EQ(converter->Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), shortLines),
              kModuleBadArgument);
    EXPECT_EQ(converter->Run(dst.Planes(), dst.Linesizes(), nullptr, src.Linesizes()),
              kModuleBadArgument);
    // Nothing was written.
    EXPECT_EQ(dst.At(0, 0, 0), TPictureBuffer::kSentinel);
    EXPECT_EQ(dst.At(1, 0, 0), TPictureBuffer::kSentinel);
}

TEST(ConverterTest, OneConverterCanBeReconfigured) {
    TConverterPtr converter = NewConverter();
    ASSERT_TRUE(converter);
    TPictureBuffer small(kPixCodeBgr24, 5, 3);
    FillSmoothBgr(small, 3);
    TPictureBuffer smallOut(kPixCodeYuyv422, 5, 3);
    ASSERT_EQ(ConvertOnce(*converter, small, smallOut), 0);
    TPictureBuffer large(kPixCodeBgr24, 131, 67);
    FillSmoothBgr(large, 3);
    TPictureBuffer largeOut(kPixCodeYuyv422, 131, 67);
    ASSERT_EQ(ConvertOnce(*converter, large, largeOut), 0);
    TPictureBuffer reference(kPixCodeYuyv422, 131, 67);
    ASSERT_EQ(Convert(large, reference), 0);
    EXPECT_EQ(largeOut.MaxDifference(reference), 0);
}

}  // namespace
}  // namespace moduletest
