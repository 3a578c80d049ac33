#include "engine/ScreenTint.h"

#include <gtest/gtest.h>

#include "common/ErrorTrail.h"
#include "engine/modules/TintRamp.h"
#include "platform/DisplayContext.h"
#include "platform/FakeDisplayBackend.h"

namespace pelorn {
namespace {

using platform::kGammaEntries;
using platform::TGammaRamp;

uint16_t Red(const TGammaRamp& ramp, int k) { return ramp[k]; }
uint16_t Green(const TGammaRamp& ramp, int k) { return ramp[kGammaEntries + k]; }
uint16_t Blue(const TGammaRamp& ramp, int k) { return ramp[2 * kGammaEntries + k]; }

class ScreenTintTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_fake.AddDisplay("DP-1", {0, 0, 1920, 1080}, true);
        m_fake.AddDisplay("HDMI-1", {1920, 0, 3840, 1080}, false);
        platform::InstallDisplayBackend(&m_fake);
        common::ErrorTrail::Take();
    }
    void TearDown() override { platform::InstallDisplayBackend(nullptr); }

    platform::TFakeDisplayBackend m_fake;
};

TEST(TintRampTest, FullLevelIsPureGreenThroughout) {
    const ScreenTint tint;
    const TGammaRamp ramp = ComputeTintRamp(255, tint.Curve());
    for (int k = 0; k < kGammaEntries; ++k) {
        EXPECT_EQ(Red(ramp, k), 0) << k;
        EXPECT_EQ(Blue(ramp, k), 0) << k;
        EXPECT_EQ(Green(ramp, k), 255 * 256) << k;
    }
    EXPECT_EQ(ComputeTintRamp(300, tint.Curve()), ramp);
}

TEST(TintRampTest, PartialLevelsFollowTheCurve) {
    const ScreenTint tint;
    // Level 100, k = 64: curve 128, s = 155, t = 77.80; green = t + 100.
    const TGammaRamp ramp = ComputeTintRamp(100, tint.Curve());
    EXPECT_EQ(Red(ramp, 64), 78 * 256);
    EXPECT_EQ(Blue(ramp, 64), 78 * 256);
    EXPECT_EQ(Green(ramp, 64), 178 * 256);
    // The curve runs past 255 at the top: clamped.
    EXPECT_EQ(Green(ramp, 255), 255 * 256);
    // A negative level counts as 0: every channel is the curve itself.
    const TGammaRamp grey = ComputeTintRamp(-5, tint.Curve());
    EXPECT_EQ(Red(grey, 10), 20 * 256);
    EXPECT_EQ(Green(grey, 10), 20 * 256);
    EXPECT_EQ(Blue(grey, 200), 232 * 256);
}

TEST(TintRampTest, TheCurveHasItsThreeSections) {
    const ScreenTint tint;
    EXPECT_FLOAT_EQ(tint.Curve()[0], 0.0f);
    EXPECT_FLOAT_EQ(tint.Curve()[64], 128.0f);
    EXPECT_FLOAT_EQ(tint.Curve()[65], 129.0f);
    EXPECT_FLOAT_EQ(tint.Curve()[128], 192.0f);
    EXPECT_FLOAT_EQ(tint.Curve()[129], 196.5f);
    EXPECT_FLOAT_EQ(tint.Curve()[255], 259.5f);
}

TEST_F(ScreenTintTest, BuildingNeedsADisplayAndLevelZeroIsTheIdentity) {
    const ScreenTint tint;
    EXPECT_EQ(BuildTintRamp(255, nullptr, tint.Curve()), 0);
    platform::TDisplayContext closed;
    EXPECT_EQ(BuildTintRamp(255, &closed, tint.Curve()), 0);

    platform::TDisplayContext context;
    ASSERT_TRUE(context.Open("DP-1"));
    EXPECT_EQ(BuildTintRamp(255, &context, tint.Curve()), 1);
    EXPECT_EQ(m_fake.Ramp("DP-1"), ComputeTintRamp(255, tint.Curve()));
    EXPECT_EQ(BuildTintRamp(0, &context, tint.Curve()), 1);
    EXPECT_EQ(m_fake.Ramp("DP-1"), IdentityGammaRamp());
    EXPECT_EQ(IdentityGammaRamp()[kGammaEntries + 255], 65280);

    m_fake.FailGamma(true);
    EXPECT_EQ(BuildTintRamp(200, &context, tint.Curve()), 0);
}

TEST_F(ScreenTintTest, WithoutADisplayTheLevelIsRefusedWithAMessage) {
    ScreenTint tint;
    EXPECT_EQ(tint.SetLevel(100), 0);
    EXPECT_EQ(common::ErrorTrail::Take(), "蒙绿初始化不成功\r");
    tint.Select("VGA-7");  // no such display
    EXPECT_FALSE(tint.HasDisplay());
    EXPECT_EQ(tint.SetLevel(100), 0);
    EXPECT_EQ(common::ErrorTrail::Take(), "蒙绿初始化不成功\r");
    tint.Restore();  // nothing to restore
}

TEST_F(ScreenTintTest, SelectingSavesTheFoundRampAndMovesTheTint) {
    {
        platform::TDisplayContext context;
        ASSERT_TRUE(context.Open("HDMI-1"));
        TGammaRamp dimmed = IdentityGammaRamp();
        for (uint16_t& entry : dimmed) entry /= 2;
        ASSERT_TRUE(context.SetGammaRamp(dimmed));
    }
    ScreenTint tint;
    tint.Select("HDMI-1");
    ASSERT_TRUE(tint.HasDisplay());
    EXPECT_EQ(tint.DeviceName(), "HDMI-1");
    EXPECT_EQ(tint.SavedRamp()[255], 255 * 128);

    tint.Select("HDMI-1");  // the same display keeps its context
    EXPECT_EQ(m_fake.OpenContextCount(), 1);
    EXPECT_EQ(tint.SetLevel(255), 1);
    EXPECT_EQ(Green(m_fake.Ramp("HDMI-1"), 0), 255 * 256);

    tint.Select("DP-1");
    EXPECT_EQ(m_fake.OpenContextCount(), 1);
    EXPECT_EQ(tint.SetLevel(255), 1);
    EXPECT_EQ(Green(m_fake.Ramp("DP-1"), 0), 255 * 256);
    EXPECT_EQ(tint.SetLevel(0), 1);
    EXPECT_EQ(m_fake.Ramp("DP-1"), IdentityGammaRamp());
}

TEST_F(ScreenTintTest, DestructionRestoresTheIdentityAndReleasesTheDisplay) {
    {
        ScreenTint tint;
        tint.Select("DP-1");
        ASSERT_EQ(tint.SetLevel(180), 1);
        EXPECT_NE(m_fake.Ramp("DP-1"), IdentityGammaRamp());
    }
    EXPECT_EQ(m_fake.Ramp("DP-1"), IdentityGammaRamp());
    EXPECT_EQ(m_fake.OpenContextCount(), 0);
}

}  // namespace
}  // namespace pelorn
