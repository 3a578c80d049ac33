#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/ErrorTrail.h"
#include "engine/EngineLibrary.h"
#include "engine/TBufEngineMain.h"
#include "engine/TCapEngineMain.h"
#include "platform/MessageBox.h"
#include "platform/DrmAdapters.h"
#include "tests/support/XvfbSupport.h"

namespace pelorn {
namespace {

using quindle::test::KnownColour;
using quindle::test::TMonitorRect;
using quindle::test::TXvfb;

const std::vector<TMonitorRect> kHalves = {{0, 0, 960, 1080}, {960, 0, 960, 1080}};

class EngineScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        // $DISPLAY must name the server before the engine lists the displays.
        if (!m_server.Running()) GTEST_SKIP() << "Xvfb is not installed";
        common::ErrorTrail::Take();
        ASSERT_TRUE(m_server.SplitIntoTwoMonitors());
        ASSERT_TRUE(m_server.PaintKnownPicture(kHalves));
        ASSERT_TRUE(PrepareEngineCreation());
        m_engine = std::make_unique<TCapEngineMain>(nullptr, nullptr, 0);
        ASSERT_EQ(m_engine->Displays().Count(), 2);
    }
    void TearDown() override { platform::SetDrmSysfsRoot({}); }

    int OpenOnScreen(std::string index) {
        TCapOpenParam param = TCapOpenParam::WithoutSources(1280, 720, 28, 30);
        param.sources[1].kind = kCapSourceScreen;
        param.sources[1].name = std::move(index);
        return m_engine->Open(&param);
    }
    // Waits up to 5 s for the canvas's top-left quadrant to show `colour`.
    bool CanvasShows(uint32_t colour) {
        const int width = m_engine->OutputQueue().Stage(kStageCompositor).inWidth;
        const int height = m_engine->OutputQueue().Stage(kStageCompositor).inHeight;
        for (int i = 0; i < 500; ++i) {
            const uint8_t* p = m_engine->Canvas() + (static_cast<size_t>(height / 4) * width + width / 4) * 4;
            const uint32_t seen = static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
            if (seen == colour) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TXvfb& m_server = TXvfb::Shared();
    std::unique_ptr<TCapEngineMain> m_engine;
};

TEST_F(EngineScreenTest, TheCanvasFollowsTheChosenDisplayAcrossStopAndOpen) {
    ASSERT_EQ(OpenOnScreen("1"), 0);
    EXPECT_TRUE(CanvasShows(KnownColour(1, 0)));
    ASSERT_EQ(OpenOnScreen("0"), 0);
    EXPECT_TRUE(CanvasShows(KnownColour(0, 0)));

    m_engine->Stop();
    // LEFT now shows what RIGHT showed: a later picture.
    ASSERT_TRUE(m_server.PaintKnownPicture({kHalves[1], kHalves[0]}));
    ASSERT_EQ(OpenOnScreen("0"), 0);
    EXPECT_TRUE(CanvasShows(KnownColour(1, 0)));
}

TEST_F(EngineScreenTest, AnIndexOutsideTheListFailsWithTheExplanation) {
    char root[] = "/tmp/drm-root-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    std::filesystem::create_directories(std::filesystem::path(root) / "class/drm/card0/device");
    std::ofstream(std::filesystem::path(root) / "class/drm/card0/device/vendor") << "0x10de\n";
    platform::SetDrmSysfsRoot(root);
    EXPECT_EQ(OpenOnScreen("5"), 1);
    EXPECT_EQ(common::ErrorTrail::Take(), "抓屏初始化失败：未找到Intel集成显卡\r");
    std::filesystem::remove_all(root);
}

TEST_F(EngineScreenTest, SetScreenRegionRefusesSizesAboveTheCanvas) {
    ASSERT_EQ(OpenOnScreen("1"), 0);
    TCapRegion region{0, 0, 2559, 1439};
    EXPECT_EQ(m_engine->SetScreenRegion(1, 2560, 1440, &region), 1);
    region = {10, 10, 649, 369};
    EXPECT_EQ(m_engine->SetScreenRegion(1, 1280, 720, &region), 0);
    EXPECT_EQ(m_engine->GetOpenParam()->sources[1].region.right, 649);
}

TEST_F(EngineScreenTest, TheBufferEngineKeepsItsCompositorForTheSameSizeAndShowsRefusals) {
    std::vector<std::string> boxes;
    platform::SetMessageBoxHandler([&](const std::string& text) { boxes.push_back(text); });
    TBufEngineMain engine;
    std::vector<uint8_t> source(640 * 360 * 2), destination(640 * 360 * 3);
    EXPECT_EQ(engine.Process(destination.data(), source.data()), 1);  // before SetUp
    EXPECT_EQ(engine.Process(nullptr, source.data()), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{"抠像处理失败"});
    ASSERT_EQ(engine.SetUp(640, 360, 0), 0);
    const TCompositor* compositor = engine.Compositor();
    ASSERT_EQ(engine.SetUp(640, 360, 0), 0);
    EXPECT_EQ(engine.Compositor(), compositor);
    ASSERT_EQ(engine.SetUp(320, 180, 1), 0);
    EXPECT_EQ(engine.Compositor()->Width(), 320);
    platform::SetMessageBoxHandler(nullptr);
}

}  // namespace
}  // namespace pelorn
