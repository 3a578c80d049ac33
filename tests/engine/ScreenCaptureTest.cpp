#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/capture/ScreenCapManager.h"
#include "engine/capture/TXShmScreenCap.h"
#include "engine/capture/TXlibScreenCap.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "tests/support/XvfbSupport.h"

namespace pelorn {
namespace {

using quindle::test::KnownColour;
using quindle::test::kMarkerColour;
using quindle::test::TXvfb;

enum class EKind { Shm, Xlib };

struct TPicture {
    int width;
    int height;
    std::vector<uint8_t> bytes;
    TPicture(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 4, 0xAB) {}
    uint32_t At(int x, int y) const {
        const uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * 4];
        return static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
    }
};

bool Near(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 2) return false;
    }
    return true;
}

class ScreenCaptureTest : public ::testing::TestWithParam<EKind> {
protected:
    void SetUp() override {
        if (!m_server.Running()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_EQ(ModuleExtractor::ExtractInstalled().entriesWritten, 2);
        ASSERT_TRUE(m_server.SplitIntoTwoMonitors());
        ASSERT_TRUE(m_server.PaintKnownPicture({{0, 0, 960, 1080}, {960, 0, 960, 1080}}));
        if (GetParam() == EKind::Shm) {
            m_pCap = std::make_unique<TXShmScreenCap>();
        } else {
            m_pCap = std::make_unique<TXlibScreenCap>();
        }
    }

    TXvfb& m_server = TXvfb::Shared();
    std::unique_ptr<ICapScreen> m_pCap;
};

TEST_P(ScreenCaptureTest, SourceSizeIsExactAndScaledWithinTwoLevels) {
    TPicture source(960, 1080);
    ASSERT_EQ(m_pCap->Open("RIGHT", 0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->SetSize(0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->Capture(source.bytes.data()), 960 * 1080 * 4);
    EXPECT_EQ(source.At(0, 0), kMarkerColour);
    EXPECT_EQ(source.At(959, 0), KnownColour(1, 1));
    EXPECT_EQ(source.At(0, 1079), KnownColour(1, 2));

    TPicture scaled(1280, 720);
    ASSERT_EQ(m_pCap->Open("screen", 0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->SetSize(1280, 720, nullptr), 0);
    ASSERT_EQ(m_pCap->Capture(scaled.bytes.data()), 960 * 1080 * 4);
    for (int q = 0; q < 4; ++q) {
        EXPECT_TRUE(Near(scaled.At(320 + 640 * (q % 2), 180 + 360 * (q / 2)), KnownColour(0, q))) << q;
    }
}

TEST_P(ScreenCaptureTest, APortraitMonitorArrivesUpright) {
    ASSERT_TRUE(m_server.SetMonitor("RIGHT", {0, 0, 540, 960}));
    TPicture picture(540, 960);
    ASSERT_EQ(m_pCap->Open("RIGHT", 0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->SetSize(0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->Capture(picture.bytes.data()), 540 * 960 * 4);
    EXPECT_EQ(picture.At(0, 0), kMarkerColour);
    EXPECT_EQ(picture.At(539, 959), KnownColour(0, 3));
}

// Also a rectangle reaching past the output's corner: it is clipped.
TEST_P(ScreenCaptureTest, ARectangleIsWrittenOnlyInsideItself) {
    const TCapRegion regions[] = {{100, 50, 739, 409}, {1000, 600, 1500, 900}};
    for (const TCapRegion& region : regions) {
        TPicture picture(1280, 720);
        ASSERT_EQ(m_pCap->Open("screen", 0, 0, nullptr), 0);
        ASSERT_EQ(m_pCap->SetSize(1280, 720, &region), 0);
        ASSERT_GT(m_pCap->Capture(picture.bytes.data()), 0);
        const int right = std::min(region.right, 1279), bottom = std::min(region.bottom, 719);
        for (int y = 0; y < 720; ++y) {
            for (int x = 0; x < 1280; ++x) {
                const bool inside = x >= region.left && x <= right && y >= region.top && y <= bottom;
                ASSERT_EQ(picture.At(x, y) == 0xABABAB, !inside) << x << "," << y;
            }
        }
    }
}

TEST_P(ScreenCaptureTest, ANarrowedMonitorIsFollowedAndAVanishedOneGivesNothing) {
    TPicture picture(1280, 720);
    ASSERT_EQ(m_pCap->Open("RIGHT", 0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->SetSize(1280, 720, nullptr), 0);
    ASSERT_EQ(m_pCap->Capture(picture.bytes.data()), 960 * 1080 * 4);
    ASSERT_TRUE(m_server.SetMonitor("RIGHT", {960, 0, 480, 1080}));
    ASSERT_EQ(m_pCap->Capture(picture.bytes.data()), 480 * 1080 * 4);
    // The left quarter of RIGHT now fills the whole output.
    EXPECT_TRUE(Near(picture.At(1000, 100), KnownColour(1, 0)));
    ASSERT_TRUE(m_server.Xrandr({"--delmonitor", "RIGHT"}));
    EXPECT_EQ(m_pCap->Capture(picture.bytes.data()), 0);
}

TEST_P(ScreenCaptureTest, OutputsAboveFullHdAndUnknownDisplaysAreRefused) {
    EXPECT_NE(m_pCap->Open("NO-SUCH", 0, 0, nullptr), 0);
    EXPECT_NE(m_pCap->SetSize(1280, 720, nullptr), 0);
    EXPECT_EQ(m_pCap->Capture(nullptr), 0);
    ASSERT_EQ(m_pCap->Open("screen", 0, 0, nullptr), 0);
    ASSERT_EQ(m_pCap->SetSize(640, 360, nullptr), 0);
    EXPECT_NE(m_pCap->SetSize(2560, 1440, nullptr), 0);
    // The earlier size stands: a 640 x 360 buffer takes the picture.
    TPicture picture(640, 360);
    EXPECT_GT(m_pCap->Capture(picture.bytes.data()), 0);
}

INSTANTIATE_TEST_SUITE_P(Capturers, ScreenCaptureTest, ::testing::Values(EKind::Shm, EKind::Xlib),
                         [](const auto& info) { return info.param == EKind::Shm ? "Shm" : "Xlib"; });

// A server of the test's own, named by $DISPLAY while the test runs.
class ScreenCapManagerServerTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ScreenCapManagerServerTest, WithoutSharedMemoryThePlainCapturerServesAndSixteenBitsFailBoth) {
    const bool sixteenBits = std::string(GetParam()) == "16";
    TXvfb server = sixteenBits ? TXvfb({"-screen", "0", "640x480x16"})
                               : TXvfb({"-screen", "0", "640x480x24", "-extension", "MIT-SHM"});
    if (!server.Running()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(ModuleExtractor::ExtractInstalled().entriesWritten, 2);
    setenv("DISPLAY", server.Display().c_str(), 1);
    std::vector<uint8_t> target(640 * 480 * 4);
    ScreenOpenParam param;
    std::copy_n(u"screen", 6, param.deviceName);  // the server's one output
    param.target = target.data();
    param.width = 640;
    param.height = 480;
    ScreenCapManager manager;
    EXPECT_EQ(manager.Open(&param), sixteenBits ? 1 : 0);
    if (!sixteenBits) {
        EXPECT_NE(dynamic_cast<const TXlibScreenCap*>(manager.Active()), nullptr);
    }
    unsetenv("DISPLAY");
}

INSTANTIATE_TEST_SUITE_P(Servers, ScreenCapManagerServerTest, ::testing::Values("16", "NoShm"));

}  // namespace
}  // namespace pelorn
