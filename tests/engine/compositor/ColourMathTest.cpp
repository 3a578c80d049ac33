#include <gtest/gtest.h>

#include <vector>

#include "engine/compositor/ColourMath.h"

namespace pelorn::colour {
namespace {

TEST(ColourMathUnmixTest, NoGreenAmountKeepsTheBytesAndIsOpaque) {
    for (int d : {0, -1, -300}) {
        const TUnmixed out = Unmix(17, 200, 99, d, 300);
        EXPECT_EQ(out.alpha, 255);
        EXPECT_EQ(out.b, 17);
        EXPECT_EQ(out.g, 200);
        EXPECT_EQ(out.r, 99);
    }
}

TEST(ColourMathUnmixTest, NoScaleIsOpaqueToo) {
    const TUnmixed out = Unmix(10, 20, 30, 50, 0);
    EXPECT_EQ(out.alpha, 255);
    EXPECT_EQ(out.g, 20);
}

TEST(ColourMathUnmixTest, GreenAmountAboveTheScaleIsTransparentAndTakesGreenOut) {
    // q = 255 * 300 / 100 > 255: alpha 0, lambda 255, r = (114*40 + 299*50 + 147390) / 1000.
    const TUnmixed out = Unmix(40, 200, 50, 300, 100);
    EXPECT_EQ(out.alpha, 0);
    const int r = (114 * 40 + 299 * 50 + 147390) / 1000;
    EXPECT_EQ(out.b, r);
    EXPECT_EQ(out.g, 200 + r - 255);
    EXPECT_EQ(out.r, r);
}

TEST(ColourMathUnmixTest, PartialAmountFollowsTheFormula) {
    // q = 255 * 51 / 255 = 51, alpha 204, lambda 51.
    const TUnmixed out = Unmix(100, 150, 60, 51, 255);
    EXPECT_EQ(out.alpha, 204);
    const int r = ((114 * 100 + 299 * 60 + 147390) / 1000) * 51 / 255;
    EXPECT_EQ(out.b, 100 - 100 * 51 / 255 + r);
    EXPECT_EQ(out.g, 150 + r - 51);
    EXPECT_EQ(out.r, 60 - 60 * 51 / 255 + r);
}

TEST(ColourMathKeyTest, NeutralChromaHasKeyZeroAndGreyColour) {
    EXPECT_EQ(KeyValue(128, 128), 0);
    for (int y : {0, 1, 77, 128, 254, 255}) {
        const TBgr colour = SampleColour(128, 128, y);
        EXPECT_EQ(colour.b, y);
        EXPECT_EQ(colour.g, y);
        EXPECT_EQ(colour.r, y);
    }
}

TEST(ColourMathKeyTest, SaturatedGreenLiesBeyondTheKeyLimit) {
    EXPECT_GT(KeyValue(44, 21), 510);
    EXPECT_LT(KeyValue(110, 160), 1);  // skin
}

TEST(ColourMathKeyTest, ColourChannelsAreClamped) {
    const TBgr colour = SampleColour(255, 255, 250);
    EXPECT_EQ(colour.b, 255);
    EXPECT_EQ(colour.r, 255);
    EXPECT_GE(colour.g, 0);
    EXPECT_EQ(SampleColour(0, 0, 5).b, 0);
}

TEST(ColourMathHueTest, GreyHasNoHueNorSaturation) {
    const auto entry = HueEntry(128, 128, 128);
    EXPECT_EQ(entry[0], 0);
    EXPECT_EQ(entry[1], 0);
    EXPECT_EQ(entry[2], 129);  // (128 + 0.5) / 255 -> 0.5039 -> 129
}

TEST(ColourMathHueTest, GreenSampleHasAGreenHue) {
    // Backdrop green: hue about 120 degrees, byte 120 * 255 / 359.
    const auto entry = HueEntry(125, 80, 75);
    EXPECT_GE(entry[0], 44);
    EXPECT_LE(entry[0], 127);
    EXPECT_GT(entry[1], 100);
}

TEST(ColourMathHueTest, ColourTableTurnsHueBackIntoColour) {
    // Hue byte 0 is red, 85 (120 degrees) green, 170 blue, at full saturation.
    const auto red = ColourEntry(0, 255, 128);
    EXPECT_GT(red[2], 250);
    EXPECT_LT(red[1], 5);
    const auto green = ColourEntry(85, 255, 128);
    EXPECT_GT(green[1], 250);
    EXPECT_LT(green[2], 10);
    const auto grey = ColourEntry(40, 0, 128);
    EXPECT_EQ(grey[0], 128);
    EXPECT_EQ(grey[1], 128);
    EXPECT_EQ(grey[2], 128);
}

TEST(ColourMathDerivedTest, BackdropGreenIsUnmixedAndShaded) {
    std::vector<uint8_t> slice(kColourSliceBytes);
    BuildColourSlice(slice.data());
    const TDerived backdrop = DerivedEntry(80, 75, 125, slice.data());
    EXPECT_GT(backdrop.scale, 0);
    EXPECT_GT(backdrop.shade, 0);
    const TDerived neutral = DerivedEntry(128, 128, 128, slice.data());
    EXPECT_EQ(neutral.spot, 0);
    EXPECT_EQ(neutral.shade, 0);
    EXPECT_EQ(neutral.scale, 128 * 128 / 256);
}

TEST(ColourMathDerivedTest, BlackHasNoScale) {
    std::vector<uint8_t> slice(kColourSliceBytes);
    BuildColourSlice(slice.data());
    EXPECT_EQ(DerivedEntry(128, 128, 0, slice.data()).scale, 0);
}

TEST(ColourMathDerivedTest, StoreAndLoadKeepEveryField) {
    const TDerived entry{1, 2, 3, -300, 1020, 77, 255};
    uint8_t bytes[kDerivedEntryBytes];
    StoreDerived(entry, bytes);
    const TDerived back = LoadDerived(bytes);
    EXPECT_EQ(back.c0, 1);
    EXPECT_EQ(back.c1, 2);
    EXPECT_EQ(back.c2, 3);
    EXPECT_EQ(back.scale, -300);
    EXPECT_EQ(back.offset, 1020);
    EXPECT_EQ(back.spot, 77);
    EXPECT_EQ(back.shade, 255);
    EXPECT_EQ(bytes[3], 0);
}

TEST(ColourMathLevelTest, FullLevelIsTheIdentity) {
    uint8_t curve[256];
    BuildLevelCurve(255, curve);
    for (int x = 0; x < 256; ++x) EXPECT_EQ(curve[x], x);
    const auto entry = LevelEntry(10, 200, 99, curve);
    EXPECT_EQ(entry[0], 10);
    EXPECT_EQ(entry[1], 200);
    EXPECT_EQ(entry[2], 99);
}

TEST(ColourMathLevelTest, LowerLevelStretchesAndKeepsLuma) {
    uint8_t curve[256];
    BuildLevelCurve(128, curve);
    EXPECT_EQ(curve[64], 255 * 64 / 128);
    EXPECT_EQ(curve[200], 255);
    // Grey stays grey: the shift m brings the luma of the stretched grey back.
    const auto grey = LevelEntry(100, 100, 100, curve);
    EXPECT_EQ(grey[0], 100);
    EXPECT_EQ(grey[1], 100);
    EXPECT_EQ(grey[2], 100);
    // A colour gains contrast between its channels.
    const auto colour = LevelEntry(40, 90, 60, curve);
    EXPECT_GT(colour[1] - colour[0], 90 - 40);
}

TEST(ColourMathLevelTest, LevelZeroTakesTheCurveOfLevelOne) {
    uint8_t zero[256];
    uint8_t one[256];
    BuildLevelCurve(0, zero);
    BuildLevelCurve(1, one);
    for (int x = 0; x < 256; ++x) EXPECT_EQ(zero[x], one[x]);
    EXPECT_EQ(zero[0], 0);
    EXPECT_EQ(zero[1], 255);
}

TEST(ColourMathAngleTest, IndexInsideTheTableIsTheFormula) {
    EXPECT_EQ(AngleIndex(1, 1), 1u * 1021 + 1 + 674420);
    EXPECT_EQ(AngleIndex(300, 510), 300u * 1021 + 510 + 674420);
}

TEST(ColourMathAngleTest, IndexPastTheEndTakesTheLastRowAtTheSameColumn) {
    for (int h : {361, 400, 509}) {
        for (int l : {1, 300, 510}) {
            const size_t index = AngleIndex(h, l);
            const size_t unclamped = static_cast<size_t>(h) * 1021 + l + 674420;
            ASSERT_GE(unclamped, kAngleBytes);
            EXPECT_GE(index, kAngleBytes - kAngleSide);
            EXPECT_LT(index, kAngleBytes);
            EXPECT_EQ(index % kAngleSide, unclamped % kAngleSide);
        }
    }
}

TEST(ColourMathOpacityTest, DecisionStepsInOrder) {
    std::vector<uint8_t> angles(kAngleBytes, 77);
    const TKeyParams params{0, 0, 0, 0, 0, 255};
    TDerived d{10, 200, 10, 128, 40, 0, 0};
    // F = 10 + 10 - 200 < 0, H = k: angle table.
    EXPECT_EQ(GreenOpacity(100, d, params, angles.data()), 77);
    // A light spot above 255 - P11 is backdrop.
    TDerived spot = d;
    spot.spot = 200;
    EXPECT_EQ(GreenOpacity(100, spot, {0, 0, 0, 120, 0, 255}, angles.data()), 0);
    // A shade above 255 - P10 likewise.
    TDerived shade = d;
    shade.shade = 250;
    EXPECT_EQ(GreenOpacity(100, shade, {0, 0, 20, 0, 0, 255}, angles.data()), 0);
    // Reinforcement F >= k: H < 1, presenter.
    EXPECT_EQ(GreenOpacity(100, d, {0, 400, 0, 0, 0, 255}, angles.data()), 255);
    // No scale: kept opaque.
    TDerived flat = d;
    flat.scale = 0;
    EXPECT_EQ(GreenOpacity(100, flat, params, angles.data()), 255);
    // K >= 510: backdrop.
    TDerived far = d;
    far.offset = 600;
    EXPECT_EQ(GreenOpacity(100, far, params, angles.data()), 0);
}

}  // namespace
}  // namespace pelorn::colour
