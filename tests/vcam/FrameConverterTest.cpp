#include "tools/vcam/TFrameConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace pelorn::vcam {
namespace {

// BT.601 limited range, exact: what every converted sample is held against.
struct TColour {
    double r, g, b, y, u, v;
};

TColour FromRgb(double r, double g, double b) {
    return {r, g, b, 16 + 0.256788 * r + 0.504129 * g + 0.097906 * b,
            128 - 0.148223 * r - 0.290993 * g + 0.439216 * b,
            128 + 0.439216 * r - 0.367788 * g - 0.071427 * b};
}

TColour FromYuv(double y, double u, double v) {
    const auto clamp = [](double x) { return std::clamp(x, 0.0, 255.0); };
    const double luma = 1.164383 * (y - 16);
    return {clamp(luma + 1.596027 * (v - 128)),
            clamp(luma - 0.391762 * (u - 128) - 0.812968 * (v - 128)),
            clamp(luma + 2.017232 * (u - 128)), y, u, v};
}

// A known picture of odd width as a slot holds it, and its exact colours.
struct TSource {
    int width, height, format;
    std::vector<uint8_t> slot;
    std::vector<TColour> colours;

    const TColour& At(int x, int y) const { return colours[y * width + x]; }
};

uint8_t Pattern(int x, int y, int channel) {
    return static_cast<uint8_t>((x * 37 + y * 91 + channel * 53 + x * y * 7) % 256);
}

TSource MakeSource(int format, int width, int height) {
    TSource source{width, height, format, {}, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (format == kAvBgra) {
                const uint8_t b = Pattern(x, y, 0), g = Pattern(x, y, 1), r = Pattern(x, y, 2);
                source.slot.insert(source.slot.end(), {b, g, r, 255});
                source.colours.push_back(FromRgb(r, g, b));
                continue;
            }
            // YUYV: rows of width x 2 bytes, so an odd row ends with the U of
            // its half pair; that pixel takes the V of the pair before.
            const int pair = x / 2;
            const uint8_t luma = static_cast<uint8_t>(16 + Pattern(x, y, 0) % 220);
            const uint8_t u = static_cast<uint8_t>(16 + Pattern(pair, y, 1) % 225);
            const int vPair = 2 * pair + 1 < width ? pair : pair - 1;
            const uint8_t v = static_cast<uint8_t>(16 + Pattern(vPair, y, 2) % 225);
            source.slot.push_back(luma);
            source.slot.push_back(x % 2 == 0 ? u : v);
            source.colours.push_back(FromYuv(luma, u, v));
        }
    }
    return source;
}

// The mean of one chroma component over the pixels of a block that exist.
double MeanChroma(const TSource& s, int x0, int y0, int across, int down, bool u) {
    double sum = 0;
    int count = 0;
    for (int y = y0; y < std::min(y0 + down, s.height); ++y) {
        for (int x = x0; x < std::min(x0 + across, s.width); ++x) {
            sum += u ? s.At(x, y).u : s.At(x, y).v;
            ++count;
        }
    }
    return sum / count;
}

// Every sample of the converted picture, with what it should be.
struct TSample {
    double expected;
    uint8_t actual;
    std::string where;
};

std::vector<TSample> Samples(const TSource& s, int format, const std::vector<uint8_t>& out) {
    const TPictureLayout layout = LayoutOf(format, s.width, s.height);
    std::vector<TSample> samples;
    const auto add = [&](double expected, int plane, int row, size_t column) {
        samples.push_back({expected, out[layout.offset[plane] + row * layout.stride[plane] + column],
                           "plane " + std::to_string(plane) + " row " + std::to_string(row) +
                               " byte " + std::to_string(column)});
    };
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const TColour& c = s.At(x, y);
            if (format == kAvRgb24) {
                add(c.r, 0, y, x * 3);
                add(c.g, 0, y, x * 3 + 1);
                add(c.b, 0, y, x * 3 + 2);
            } else if (format == kAvYuyv422) {
                add(c.y, 0, y, x * 2);
                if (x % 2 == 0) add(MeanChroma(s, x, y, 2, 1, true), 0, y, x * 2 + 1);
                if (x % 2 == 0) add(MeanChroma(s, x, y, 2, 1, false), 0, y, x * 2 + 3);
            } else {
                add(c.y, 0, y, x);
            }
        }
    }
    if (format != kAvYuv420p && format != kAvNv12) return samples;
    for (int cy = 0; cy < (s.height + 1) / 2; ++cy) {
        for (int cx = 0; cx < (s.width + 1) / 2; ++cx) {
            const double u = MeanChroma(s, cx * 2, cy * 2, 2, 2, true);
            const double v = MeanChroma(s, cx * 2, cy * 2, 2, 2, false);
            if (format == kAvYuv420p) {
                add(u, 1, cy, cx);
                add(v, 2, cy, cx);
            } else {
                add(u, 1, cy, cx * 2);
                add(v, 1, cy, cx * 2 + 1);
            }
        }
    }
    return samples;
}

struct TConversionCase {
    int source;
    int target;
    const char* name;
};

class FrameConverterTest : public ::testing::TestWithParam<TConversionCase> {};

TEST_P(FrameConverterTest, EverySampleIsWithinOneOfTheExactConversion) {
    const TSource source = MakeSource(GetParam().source, 37, 9);
    TFrameConverter converter;
    ASSERT_EQ(converter.Configure(37, 9, source.format, 37, 9, GetParam().target), 0);
    std::vector<uint8_t> out(converter.Output().bytes);
    converter.Convert(source.slot.data(), out.data());

    for (const TSample& sample : Samples(source, GetParam().target, out)) {
        ASSERT_LE(std::abs(sample.actual - std::lround(sample.expected)), 1)
            << sample.where << ": " << int{sample.actual} << " for " << sample.expected;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, FrameConverterTest,
    ::testing::Values(TConversionCase{kAvBgra, kAvYuyv422, "BgraToYuyv"},
                      TConversionCase{kAvBgra, kAvYuv420p, "BgraToI420"},
                      TConversionCase{kAvBgra, kAvNv12, "BgraToNv12"},
                      TConversionCase{kAvBgra, kAvRgb24, "BgraToRgb24"},
                      TConversionCase{kAvYuyv422, kAvYuyv422, "YuyvToYuyv"},
                      TConversionCase{kAvYuyv422, kAvYuv420p, "YuyvToI420"},
                      TConversionCase{kAvYuyv422, kAvNv12, "YuyvToNv12"},
                      TConversionCase{kAvYuyv422, kAvRgb24, "YuyvToRgb24"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameConverterScaleTest, AFlatPictureKeepsItsColourAtAnotherSize) {
    const std::vector<uint8_t> bgra(33 * 7 * 4, 200);
    TFrameConverter converter;
    ASSERT_EQ(converter.Configure(33, 7, kAvBgra, 20, 12, kAvRgb24), 0);
    std::vector<uint8_t> out(converter.Output().bytes);
    ASSERT_EQ(out.size(), 20u * 12 * 3);
    converter.Convert(bgra.data(), out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 200));
}

TEST(FrameConverterScaleTest, AFormatItCannotReadIsRefused) {
    TFrameConverter converter;
    EXPECT_EQ(converter.Configure(16, 8, kAvYuv420p, 16, 8, kAvYuyv422), EINVAL);
    EXPECT_EQ(converter.Configure(16, 8, kAvBgra, 16, 8, 5), EINVAL);
}

}  // namespace
}  // namespace pelorn::vcam
