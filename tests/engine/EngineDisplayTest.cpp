// The engine's side of the displays: the list it shows, the tint parameter,
// and the monitor being restored by Stop and by destruction.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/ErrorTrail.h"
#include "engine/DisplayList.h"
#include "engine/ParamTable.h"
#include "engine/TCapEngineMain.h"
#include "engine/modules/TintRamp.h"
#include "platform/FakeDisplayBackend.h"

namespace pelorn {
namespace {

// "prefix" + n, written so that GCC 12 raises no false -Wrestrict warning.
std::string Named(const char* prefix, long n) {
    std::string text(prefix);
    text += std::to_string(n);
    return text;
}

using platform::kGammaEntries;

class EngineDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_fake.AddDisplay("DP-1", {0, 0, 1920, 1080}, false);
        m_fake.AddDisplay("HDMI-1", {1920, 0, 3840, 1080}, true);
        m_fake.AddDisplay("DP-2", {3840, 0, 5120, 1024}, false);
        platform::InstallDisplayBackend(&m_fake);
        common::ErrorTrail::Take();
        m_engine = std::make_unique<TCapEngineMain>(nullptr, nullptr, 0);
        TCapParamList list;
        m_engine->GetParamList(&list);  // finds the tint parameter, as the console does
    }
    void TearDown() override {
        m_engine.reset();
        platform::InstallDisplayBackend(nullptr);
    }

    void OpenWithoutSource() {
        TCapOpenParam param = TCapOpenParam::WithoutSources(640, 360, 28, 30);
        ASSERT_EQ(m_engine->Open(&param), 0);
    }

    platform::TFakeDisplayBackend m_fake;
    std::unique_ptr<TCapEngineMain> m_engine;
};

TEST_F(EngineDisplayTest, TheListIsCutToTheCallersRoomAndStillNamesThePrimary) {
    std::string names[8];
    unsigned primary = 99;
    EXPECT_EQ(m_engine->ListScreens(names, &primary, 1), 1);
    EXPECT_EQ(names[0], "显示器0");
    EXPECT_EQ(primary, 1u);
    EXPECT_TRUE(names[1].empty());

    EXPECT_EQ(m_engine->ListScreens(names, &primary, 8), 3);
    EXPECT_EQ(names[0], "显示器0");
    EXPECT_EQ(names[1], "显示器1 (主屏)");
    EXPECT_EQ(names[2], "显示器2");
    EXPECT_EQ(m_engine->ListScreens(names, &primary, 0), 0);
    EXPECT_EQ(m_engine->ListScreens(names, &primary, -3), 0);
    EXPECT_EQ(m_engine->Displays().At(2).deviceName, "DP-2");
}

TEST_F(EngineDisplayTest, TheDisplaysAreThoseFoundAtConstruction) {
    m_fake.AddDisplay("DP-3", {5120, 0, 6400, 1024}, false);
    std::string names[8];
    unsigned primary = 0;
    EXPECT_EQ(m_engine->ListScreens(names, &primary, 8), 3);
}

TEST(DisplayListTest, NoDisplaysOrNoPrimaryFlag) {
    platform::TFakeDisplayBackend none;
    platform::InstallDisplayBackend(&none);
    {
        const DisplayList list;
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.PrimaryIndex(), 0);
        TCapEngineMain engine(nullptr, nullptr, 0);
        std::string names[2];
        unsigned primary = 7;
        EXPECT_EQ(engine.ListScreens(names, &primary, 2), 0);
        EXPECT_EQ(primary, 0u);
    }
    platform::TFakeDisplayBackend many;
    for (int i = 0; i < 70; ++i) many.AddDisplay(Named("OUT-", i), {}, false);
    platform::InstallDisplayBackend(&many);
    {
        const DisplayList list;
        EXPECT_EQ(list.Count(), DisplayList::kMaxDisplays);
        EXPECT_EQ(list.PrimaryIndex(), 0);
    }
    platform::InstallDisplayBackend(nullptr);
}

TEST_F(EngineDisplayTest, SettingTheTintBeyondItsMaximumAppliesAndStoresTheMaximum) {
    m_engine->Tint().Select("HDMI-1");
    EXPECT_EQ(m_engine->SetParam(300, kParamTint), 0);
    EXPECT_EQ(m_engine->GetParam(kParamTint), 255);
    const platform::TGammaRamp ramp = m_fake.Ramp("HDMI-1");
    for (int k = 0; k < kGammaEntries; ++k) {
        EXPECT_EQ(ramp[k], 0);
        EXPECT_EQ(ramp[kGammaEntries + k], 255 * 256);
        EXPECT_EQ(ramp[2 * kGammaEntries + k], 0);
    }
    EXPECT_EQ(m_fake.SetRampCount("DP-1"), 0);

    EXPECT_EQ(m_engine->SetParam(0, kParamTint), 0);
    EXPECT_EQ(m_engine->GetParam(kParamTint), 0);
    EXPECT_EQ(m_fake.Ramp("HDMI-1"), IdentityGammaRamp());
    EXPECT_EQ(common::ErrorTrail::Take(), "");
}

TEST_F(EngineDisplayTest, WithoutAChosenDisplayTheTintValueIsStillStored) {
    EXPECT_EQ(m_engine->SetParam(50, kParamTint), 0);
    EXPECT_EQ(common::ErrorTrail::Take(), "蒙绿初始化不成功\r");
    EXPECT_EQ(m_engine->GetParam(kParamTint), 50);
    // Other parameters never touch the tint.
    EXPECT_EQ(m_engine->SetParam(5, kParamMatting), 0);
    EXPECT_EQ(common::ErrorTrail::Take(), "");
    // Indices outside the table are ignored.
    EXPECT_EQ(m_engine->SetParam(5, 99), 0);
    EXPECT_EQ(m_engine->SetParam(5, -1), 0);
    EXPECT_EQ(m_engine->GetParam(99), 0);
}

TEST(EngineTintIndexTest, UntilTheParameterListIsReadNoIndexTints) {
    platform::TFakeDisplayBackend fake;
    fake.AddDisplay("DP-1", {0, 0, 1920, 1080}, true);
    platform::InstallDisplayBackend(&fake);
    {
        TCapEngineMain engine(nullptr, nullptr, 0);
        common::ErrorTrail::Take();
        engine.SetParam(5, -1);  // -1 is where the tint index starts
        engine.SetParam(255, kParamTint);
        EXPECT_EQ(common::ErrorTrail::Take(), "");
        EXPECT_EQ(engine.GetParam(kParamTint), 255);
        EXPECT_EQ(fake.SetRampCount("DP-1"), 0);
    }
    platform::InstallDisplayBackend(nullptr);
}

TEST_F(EngineDisplayTest, StopRestoresTheTintedMonitor) {
    OpenWithoutSource();
    m_engine->Tint().Select("DP-2");
    m_engine->SetParam(200, kParamTint);
    ASSERT_NE(m_fake.Ramp("DP-2"), IdentityGammaRamp());
    EXPECT_EQ(m_engine->Stop(), 0);
    EXPECT_EQ(m_fake.Ramp("DP-2"), IdentityGammaRamp());
    EXPECT_EQ(m_engine->GetOpenParam(), nullptr);
}

TEST_F(EngineDisplayTest, DestructionRestoresAndReleasesTheMonitor) {
    m_engine->Tint().Select("DP-1");
    m_engine->SetParam(120, kParamTint);
    ASSERT_NE(m_fake.Ramp("DP-1"), IdentityGammaRamp());
    m_engine.reset();
    EXPECT_EQ(m_fake.Ramp("DP-1"), IdentityGammaRamp());
    EXPECT_EQ(m_fake.OpenContextCount(), 0);
}

}  // namespace
}  // namespace pelorn
