#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/compositor/ColourMath.h"
#include "engine/compositor/CompositorKernels.h"
#include "engine/modules/BrenvikDLL.h"

namespace pelorn::kernels {
namespace {

constexpr int kFormatYuyv = 1;
constexpr int kFormatPacked444 = 5;
constexpr int kFormatYuvj422p = 13;
constexpr int kFormatUyvy = 15;

template <typename Args>
void RunBands(KernelRoutine routine, const Args& args) {
    for (int band = 0; band < TCompositorPool::kWorkers; ++band) routine(&args, band);
}

std::vector<uint8_t> RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// The reference blend of the module's contract, counting its calls.
class TExactBlend final : public IBrenvikItf {
public:
    int CreateConverter(IPixConverter**, void*) override { return 1; }
    int CreateScaler(IPixScaler**, int, int) override { return 1; }
    void Op351(const uint8_t*, int, uint8_t*, int, int, int, int, int) override {}
    int AlphaBlend(const uint8_t* fg, int fgLinesize, const uint8_t* bg, int bgLinesize,
                   uint8_t* dst, int dstLinesize, int width, int height, int, int,
                   const uint8_t* mask, int maskLinesize) override {
        ++calls;
        pixels += width * height;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int m = mask[y * maskLinesize + x];
                for (int c = 0; c < 3; ++c) {
                    dst[y * dstLinesize + x * 3 + c] =
                        Mix(fg[y * fgLinesize + x * 3 + c], bg[y * bgLinesize + x * 3 + c], m);
                }
            }
        }
        return 0;
    }
    static uint8_t Mix(int fg, int bg, int m) {
        return static_cast<uint8_t>((fg * m + bg * (255 - m) + 127) / 255);
    }
    int calls = 0;
    long pixels = 0;
};

class MaskFilterTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(MaskFilterTest, FiltersEveryInnerColumnAndCopiesTheBorderRows) {
    const auto [width, height] = GetParam();
    const std::vector<uint8_t> mask =
        RandomBytes(static_cast<size_t>(width) * height, width * 31 + height);
    std::vector<uint8_t> out(mask.size(), 0xEE);
    RunBands(&MaskFilter, TMaskFilterArgs{out.data(), mask.data(), width, height});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = static_cast<size_t>(y) * width + x;
            const bool filtered = y >= 2 && y <= height - 2 && x >= 1 && x <= width - 2;
            const uint8_t expected = filtered ? MaskFilterAt(mask.data(), width, x, y) : mask[at];
            ASSERT_EQ(out[at], expected) << width << "x" << height << " at " << x << "," << y;
        }
    }
}

// Widths around and past whole blocks of 32, odd ones among them.
INSTANTIATE_TEST_SUITE_P(Sizes, MaskFilterTest,
                         ::testing::Values(std::pair{3, 4}, std::pair{5, 5}, std::pair{31, 6},
                                           std::pair{32, 7}, std::pair{33, 9}, std::pair{37, 4},
                                           std::pair{70, 11}, std::pair{97, 13}, std::pair{1, 8},
                                           std::pair{2, 3}));

// A classification table whose entries are a hash of their index.
class MattingKernelTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        s_table.resize(colour::kColourCount * 4);
        for (size_t i = 0; i < colour::kColourCount; ++i) {
            const uint32_t value = static_cast<uint32_t>(i * 2654435761u);
            std::memcpy(s_table.data() + i * 4, &value, 4);
        }
    }
    static void TearDownTestSuite() { s_table = {}; }

    static size_t IndexOf(const std::vector<uint8_t>& source, int format, int width, int height,
                          int x, int y) {
        const size_t pairRow = static_cast<size_t>((width + 1) / 2) * 4;
        if (format == kFormatYuyv || format == kFormatUyvy) {
            const uint8_t* pair = source.data() + y * pairRow + (x / 2) * 4;
            const bool yFirst = format == kFormatYuyv;
            const int u = yFirst ? pair[1] : pair[0];
            const int v = yFirst ? pair[3] : pair[2];
            const int luma = yFirst ? pair[(x % 2) * 2] : pair[(x % 2) * 2 + 1];
            return colour::SampleIndex(u, v, luma);
        }
        if (format == kFormatYuvj422p) {
            const size_t chroma = static_cast<size_t>((width + 1) / 2);
            const uint8_t* u = source.data() + static_cast<size_t>(width) * height;
            const uint8_t* v = u + chroma * height;
            return colour::SampleIndex(u[y * chroma + x / 2], v[y * chroma + x / 2],
                                       source[static_cast<size_t>(y) * width + x]);
        }
        const uint8_t* pixel = source.data() + (static_cast<size_t>(y) * width + x) * 3;
        return colour::SampleIndex(pixel[1], pixel[0], pixel[2]);
    }

    static size_t SourceBytes(int format, int width, int height) {
        if (format == kFormatYuyv || format == kFormatUyvy) {
            return static_cast<size_t>((width + 1) / 2) * 4 * height;
        }
        if (format == kFormatYuvj422p) {
            return static_cast<size_t>(width) * height +
                   2 * static_cast<size_t>((width + 1) / 2) * height;
        }
        return static_cast<size_t>(width) * height * 3;
    }

    static std::vector<uint8_t> s_table;
};
std::vector<uint8_t> MattingKernelTest::s_table;

TEST_P(MattingKernelTest, EveryPixelGetsItsEntryAndNothingBeyondIsWritten) {
    const int format = GetParam();
    const KernelRoutine routine = format == kFormatYuyv       ? &MattYuyv
                                  : format == kFormatUyvy     ? &MattUyvy
                                  : format == kFormatYuvj422p ? &MattYuvj422p
                                                              : &MattPacked444;
    for (const auto& [width, height] :
         {std::pair{1, 3}, std::pair{2, 2}, std::pair{7, 5}, std::pair{33, 9}, std::pair{64, 4}}) {
        const std::vector<uint8_t> source =
            RandomBytes(SourceBytes(format, width, height), width * 7 + format);
        const size_t pixels = static_cast<size_t>(width) * height;
        std::vector<uint8_t> picture(pixels * 3 + 16, 0xAB);
        std::vector<uint8_t> mask(pixels + 16, 0xAB);
        RunBands(routine, TMattArgs{picture.data(), mask.data(), source.data(), s_table.data(),
                                    width, height});
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t at = static_cast<size_t>(y) * width + x;
                const uint8_t* entry =
                    s_table.data() + IndexOf(source, format, width, height, x, y) * 4;
                ASSERT_EQ(std::memcmp(picture.data() + at * 3, entry, 3), 0)
                    << width << "x" << height << " at " << x << "," << y;
                ASSERT_EQ(mask[at], entry[3]);
            }
        }
        for (int i = 0; i < 16; ++i) {
            ASSERT_EQ(picture[pixels * 3 + i], 0xAB) << "picture overrun, width " << width;
            ASSERT_EQ(mask[pixels + i], 0xAB) << "mask overrun, width " << width;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MattingKernelTest,
                         ::testing::Values(kFormatYuyv, kFormatUyvy, kFormatYuvj422p,
                                           kFormatPacked444));

TEST(ConversionKernelTest, YuvToBgrUsesTheKeyersColourFormula) {
    const int width = 5;
    const int height = 3;
    const std::vector<uint8_t> yuyv = RandomBytes(static_cast<size_t>(3) * 4 * height, 5);
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    RunBands(&YuvToBgr, TConvertArgs{bgr.data(), yuyv.data(), width, height, kFormatYuyv});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* pair = yuyv.data() + y * 12 + (x / 2) * 4;
            const colour::TBgr expected = colour::SampleColour(pair[1], pair[3], pair[(x % 2) * 2]);
            const uint8_t* pixel = bgr.data() + (static_cast<size_t>(y) * width + x) * 3;
            ASSERT_EQ(pixel[0], expected.b);
            ASSERT_EQ(pixel[1], expected.g);
            ASSERT_EQ(pixel[2], expected.r);
        }
    }
}

TEST(ConversionKernelTest, BgrToYuvAndBackKeepsSmoothColours) {
    for (int format : {kFormatYuyv, kFormatUyvy, kFormatYuvj422p, kFormatPacked444}) {
        const int width = 9;
        const int height = 4;
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0; i < bgr.size() / 3; ++i) {
            bgr[i * 3] = static_cast<uint8_t>(60 + i % 3);
            bgr[i * 3 + 1] = static_cast<uint8_t>(170 - i % 5);
            bgr[i * 3 + 2] = 90;
        }
        std::vector<uint8_t> yuv(static_cast<size_t>(width + 1) * height * 3);
        std::vector<uint8_t> back(bgr.size());
        RunBands(&BgrToYuv, TConvertArgs{yuv.data(), bgr.data(), width, height, format});
        RunBands(&YuvToBgr, TConvertArgs{back.data(), yuv.data(), width, height, format});
        for (size_t i = 0; i < bgr.size(); ++i) {
            ASSERT_NEAR(back[i], bgr[i], 4) << "format " << format << " byte " << i;
        }
    }
}

TEST(ConversionKernelTest, CanvasToBgrAndBgrToBgraAtEveryLength) {
    for (size_t pixels : {1u, 3u, 4u, 5u, 17u, 1023u}) {
        const std::vector<uint8_t> bgra = RandomBytes(pixels * 4, static_cast<unsigned>(pixels));
        std::vector<uint8_t> bgr(pixels * 3 + 8, 0xCD);
        RunBands(&CanvasToBgr, TPixelArgs{bgr.data(), bgra.data(), pixels});
        std::vector<uint8_t> again(pixels * 4 + 8, 0xCD);
        RunBands(&BgrToBgra, TPixelArgs{again.data(), bgr.data(), pixels});
        for (size_t i = 0; i < pixels; ++i) {
            ASSERT_EQ(std::memcmp(bgr.data() + i * 3, bgra.data() + i * 4, 3), 0) << i;
            ASSERT_EQ(std::memcmp(again.data() + i * 4, bgra.data() + i * 4, 3), 0) << i;
            ASSERT_EQ(again[i * 4 + 3], 255);
        }
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(bgr[pixels * 3 + i], 0xCD);
            ASSERT_EQ(again[pixels * 4 + i], 0xCD);
        }
    }
}

class BlendKernelTest : public ::testing::TestWithParam<bool> {};

TEST_P(BlendKernelTest, RunsMatchTheModulesBlendAndOnlyMixedStretchesReachIt) {
    const bool bgIsBgra = GetParam();
    const int width = 77;
    const int height = 6;
    const size_t pixels = static_cast<size_t>(width) * height;
    const std::vector<uint8_t> fg = RandomBytes(pixels * 3, 1);
    const std::vector<uint8_t> bg = RandomBytes(pixels * (bgIsBgra ? 4 : 3), 2);
    std::vector<uint8_t> mask(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const size_t x = i % width;
        mask[i] = x < 20
                      ? 0
                      : (x < 40 ? 255 : (x < 45 ? static_cast<uint8_t>(x * 9) : (x % 2 ? 0 : 255)));
    }
    for (const bool dstIsBgra : {false, true}) {
        const int dstBytes = dstIsBgra ? 4 : 3;
        std::vector<uint8_t> dst(pixels * dstBytes, 0);
        TExactBlend module;
        RunBands(&Blend, TBlendArgs{&module, fg.data(), bg.data(), dst.data(), mask.data(), width,
                                    height, bgIsBgra, dstIsBgra});
        for (size_t i = 0; i < pixels; ++i) {
            for (int c = 0; c < 3; ++c) {
                const int background = bg[i * (bgIsBgra ? 4 : 3) + c];
                ASSERT_EQ(dst[i * dstBytes + c], TExactBlend::Mix(fg[i * 3 + c], background, mask[i]))
                    << i << (dstIsBgra ? " into BGRA" : "");
            }
            if (dstIsBgra) {
                ASSERT_EQ(dst[i * 4 + 3], 255) << i;
            }
        }
        EXPECT_GT(module.calls, 0);
        EXPECT_LT(module.pixels, static_cast<long>(pixels));  // the uniform runs were copied
    }
}

TEST_P(BlendKernelTest, InPlaceOverTheForeground) {
    const bool bgIsBgra = GetParam();
    const int width = 40;
    const int height = 5;
    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<uint8_t> picture = RandomBytes(pixels * 3, 3);
    const std::vector<uint8_t> original = picture;
    const std::vector<uint8_t> bg = RandomBytes(pixels * (bgIsBgra ? 4 : 3), 4);
    const std::vector<uint8_t> mask = RandomBytes(pixels, 5);
    TExactBlend module;
    RunBands(&Blend, TBlendArgs{&module, picture.data(), bg.data(), picture.data(), mask.data(),
                                width, height, bgIsBgra});
    for (size_t i = 0; i < pixels * 3; ++i) {
        const int background = bg[(i / 3) * (bgIsBgra ? 4 : 3) + i % 3];
        ASSERT_EQ(picture[i], TExactBlend::Mix(original[i], background, mask[i / 3]));
    }
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, BlendKernelTest, ::testing::Values(false, true));

TEST(SubjectBoundsKernelTest, FindsTheOpaqueRectanglePerBand) {
    const int width = 50;
    const int height = 40;
    std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 127);  // below the threshold
    mask[12 * width + 30] = 128;
    mask[33 * width + 7] = 255;
    mask[20 * width + 49] = 200;
    TRect bands[4];
    RunBands(&SubjectBounds, TBoundsArgs{mask.data(), width, height, bands});
    TRect all{width, height, -1, -1};
    for (const TRect& band : bands) {
        if (band.IsEmpty())
            continue;
        all = {std::min(all.left, band.left), std::min(all.top, band.top),
               std::max(all.right, band.right), std::max(all.bottom, band.bottom)};
    }
    EXPECT_EQ(all.left, 7);
    EXPECT_EQ(all.top, 12);
    EXPECT_EQ(all.right, 49);
    EXPECT_EQ(all.bottom, 33);
    EXPECT_TRUE(bands[0].IsEmpty());  // rows 0..9 hold no subject

    std::fill(mask.begin(), mask.end(), 0);
    RunBands(&SubjectBounds, TBoundsArgs{mask.data(), width, height, bands});
    for (const TRect& band : bands) EXPECT_TRUE(band.IsEmpty());
}

TEST(PictureKernelTest, ClearOutsideKeepsOnlyTheRectangle) {
    const int width = 9;
    const int height = 7;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3, 9);
    RunBands(&ClearOutside, TClearOutsideArgs{picture.data(), 3, width, height, {2, 1, 5, 3}});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inside = x >= 2 && x <= 5 && y >= 1 && y <= 3;
            ASSERT_EQ(picture[(static_cast<size_t>(y) * width + x) * 3 + 1], inside ? 9 : 0);
        }
    }
}

TEST(PictureKernelTest, GreyMaskScalesTo235) {
    std::vector<uint8_t> mask{0, 1, 128, 254, 255};
    std::vector<uint8_t> picture(mask.size() * 3, 7);
    RunBands(&GreyMask, TGreyMaskArgs{picture.data(), mask.data(), mask.size()});
    for (size_t i = 0; i < mask.size(); ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(picture[i * 3 + c], mask[i] * 235 / 255);
    }
}

TEST(PictureKernelTest, LevelApplyReadsTheEntryOfTheThreeBytes) {
    std::vector<uint8_t> table(colour::kColourCount * 3);
    for (size_t i = 0; i < colour::kColourCount; ++i) {
        table[i * 3] = static_cast<uint8_t>(i >> 3);
        table[i * 3 + 1] = static_cast<uint8_t>(i >> 11);
        table[i * 3 + 2] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> picture{1, 2, 3, 200, 100, 50};
    RunBands(&LevelApply, TLevelApplyArgs{picture.data(), table.data(), 2});
    const size_t first = size_t{1} << 16 | 2 << 8 | 3;
    const size_t second = size_t{200} << 16 | 100 << 8 | 50;
    EXPECT_EQ(picture[0], static_cast<uint8_t>(first >> 3));
    EXPECT_EQ(picture[2], static_cast<uint8_t>(first));
    EXPECT_EQ(picture[3], static_cast<uint8_t>(second >> 3));
    EXPECT_EQ(picture[4], static_cast<uint8_t>(second >> 11));
}

TEST(PictureKernelTest, ReverseBitsMirrorsEveryByteAndTwiceIsTheIdentity) {
    std::vector<uint8_t> bytes{0x01, 0x80, 0x0F, 0xF0, 0x12, 0xFF, 0x00};
    const std::vector<uint8_t> original = bytes;
    RunBands(&ReverseBits, TReverseBitsArgs{bytes.data(), bytes.size()});
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x80, 0x01, 0xF0, 0x0F, 0x48, 0xFF, 0x00}));
    RunBands(&ReverseBits, TReverseBitsArgs{bytes.data(), bytes.size()});
    EXPECT_EQ(bytes, original);
}

TEST(PictureKernelTest, CopyAndFillCoverOddLengthsExactly) {
    for (size_t bytes : {1u, 3u, 5u, 4097u}) {
        const std::vector<uint8_t> source = RandomBytes(bytes, 9);
        std::vector<uint8_t> target(bytes + 4, 0);
        RunBands(&BandCopy, TCopyArgs{target.data(), source.data(), bytes});
        EXPECT_TRUE(std::equal(source.begin(), source.end(), target.begin()));
        EXPECT_EQ(target[bytes], 0);
        RunBands(&Fill, TFillArgs{target.data(), bytes, 0x33});
        EXPECT_EQ(std::count(target.begin(), target.end(), 0x33), static_cast<long>(bytes));
    }
}

TEST(DebugKernelTest, OutlineMarksTheSubjectsRimOnly) {
    const int width = 8;
    const int height = 8;
    std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 0);
    for (int y = 2; y <= 5; ++y) {
        for (int x = 2; x <= 5; ++x) mask[y * width + x] = 255;
    }
    std::vector<uint8_t> picture(mask.size() * 3, 1);
    RunBands(&DebugOutline, TOutlineArgs{picture.data(), mask.data(), width, height});
    auto marked = [&](int x, int y) {
        return std::memcmp(picture.data() + (y * width + x) * 3, kOutlineColour.data(), 3) == 0;
    };
    EXPECT_TRUE(marked(2, 2));
    EXPECT_TRUE(marked(5, 3));
    EXPECT_FALSE(marked(3, 3));  // inside
    EXPECT_FALSE(marked(1, 1));  // backdrop
}

TEST(DebugKernelTest, TintTouchesOnlyTheSoftEdge) {
    std::vector<uint8_t> mask{0, 10, 128, 250, 255};
    std::vector<uint8_t> picture(mask.size() * 3, 100);
    RunBands(&DebugTint, TDebugTintArgs{picture.data(), mask.data(), mask.size(), 20, 255});
    EXPECT_EQ(picture[0], 100);
    EXPECT_EQ(picture[3], 100);  // 10 is at or below the low limit
    EXPECT_EQ(picture[6], (100 + 255) / 2);
    EXPECT_EQ(picture[9], (100 + 255) / 2);
    EXPECT_EQ(picture[12], 100);
}

TEST(SkinBlendKernelTest, WeightsTheFilteredPictureByTheSkinClass) {
    std::vector<uint8_t> classes(colour::kColourCount * 3, 0);
    // Every sample of the grey pixel's chroma counts as skin.
    for (int y = 0; y < 256; ++y) classes[colour::SampleIndex(128, 128, y) * 3] = 255;
    std::vector<uint8_t> picture{100, 100, 100, 40, 180, 50};  // grey, green
    const std::vector<uint8_t> filtered{200, 200, 200, 0, 0, 0};
    RunBands(&SkinBlend, TSkinBlendArgs{picture.data(), filtered.data(), classes.data(), 2});
    EXPECT_EQ(picture[0], 200);
    EXPECT_EQ(picture[2], 200);
    EXPECT_EQ(picture[3], 40);
    EXPECT_EQ(picture[4], 180);
}

TEST(KernelTableTest, HoldsTwentySixDistinctKernels) {
    const auto table = KernelTable();
    ASSERT_EQ(table.size(), 26u);
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_NE(table[i].id, 0);
        EXPECT_NE(table[i].routine, nullptr);
        for (size_t j = i + 1; j < table.size(); ++j) EXPECT_NE(table[i].id, table[j].id);
    }
}

}  // namespace
}  // namespace pelorn::kernels
