#include <gtest/gtest.h>
// After the test framework: Xlib's macros (None, Bool) would clash with it.
#include <X11/Xlib.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/DrmAdapters.h"
#include "platform/XErrorTrap.h"
#include "platform/XScreenGrabber.h"
#include "tests/support/XvfbSupport.h"

namespace platform {
namespace {

using quindle::test::KnownColour;
using quindle::test::kMarkerColour;
using quindle::test::TXvfb;

uint32_t PixelAt(const TXScreenGrabber& grabber, int x, int y) {
    const uint8_t* p = grabber.Pixels() + static_cast<size_t>(y) * grabber.Stride() + x * 4;
    return static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

class ScreenGrabberTest : public ::testing::TestWithParam<EXGrabMethod> {
protected:
    void SetUp() override {
        if (!m_server.Running()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(m_server.SplitIntoTwoMonitors());
        ASSERT_TRUE(m_server.PaintKnownPicture({{0, 0, 960, 1080}, {960, 0, 960, 1080}}));
    }
    TXvfb& m_server = TXvfb::Shared();
};

TEST_P(ScreenGrabberTest, EachMonitorGetsItsOwnHalfInExactColours) {
    TXScreenGrabber grabber(GetParam(), m_server.Display());
    const char* names[] = {"screen", "RIGHT"};
    for (int monitor = 0; monitor < 2; ++monitor) {
        ASSERT_TRUE(grabber.Open(names[monitor])) << names[monitor];
        EXPECT_EQ(grabber.Rect().left, 960 * monitor);
        ASSERT_EQ(grabber.Width(), 960);
        ASSERT_EQ(grabber.Height(), 1080);
        ASSERT_EQ(grabber.Grab(), EXGrabResult::Grabbed);
        EXPECT_EQ(PixelAt(grabber, 0, 0), kMarkerColour);
        EXPECT_EQ(PixelAt(grabber, 240, 270), KnownColour(monitor, 0));
        EXPECT_EQ(PixelAt(grabber, 959, 0), KnownColour(monitor, 1));
        EXPECT_EQ(PixelAt(grabber, 0, 1079), KnownColour(monitor, 2));
        EXPECT_EQ(PixelAt(grabber, 959, 1079), KnownColour(monitor, 3));
    }
}

// A monitor reaching past the root's right edge is grabbed clipped; one 1366
// wide at the edge whole.
TEST_P(ScreenGrabberTest, MonitorsAtAndBeyondTheRootsEdgeGrabWithoutError) {
    ASSERT_TRUE(m_server.SetMonitor("RIGHT", {1500, 0, 960, 1080}));
    TXScreenGrabber grabber(GetParam(), m_server.Display());
    ASSERT_TRUE(grabber.Open("RIGHT"));
    EXPECT_EQ(grabber.Width(), 420);
    EXPECT_EQ(grabber.Grab(), EXGrabResult::Grabbed);

    ASSERT_TRUE(m_server.SetMonitor("RIGHT", {554, 312, 1366, 768}));
    ASSERT_TRUE(grabber.Open("RIGHT"));
    EXPECT_EQ(grabber.Width(), 1366);
    EXPECT_EQ(grabber.Height(), 768);
    ASSERT_EQ(grabber.Grab(), EXGrabResult::Grabbed);
    EXPECT_EQ(PixelAt(grabber, 1365, 767), KnownColour(1, 3));
}

TEST_P(ScreenGrabberTest, ANarrowedOrVanishedMonitorIsReportedAsChanged) {
    TXScreenGrabber grabber(GetParam(), m_server.Display());
    ASSERT_TRUE(grabber.Open("RIGHT"));
    ASSERT_EQ(grabber.Grab(), EXGrabResult::Grabbed);
    ASSERT_TRUE(m_server.SetMonitor("RIGHT", {960, 0, 480, 1080}));
    EXPECT_EQ(grabber.Grab(), EXGrabResult::Changed);
    ASSERT_TRUE(grabber.Open("RIGHT"));
    EXPECT_EQ(grabber.Width(), 480);
    EXPECT_EQ(grabber.Grab(), EXGrabResult::Grabbed);

    ASSERT_TRUE(m_server.Xrandr({"--delmonitor", "RIGHT"}));
    EXPECT_EQ(grabber.Grab(), EXGrabResult::Changed);
    EXPECT_FALSE(grabber.Open("RIGHT"));
    EXPECT_EQ(grabber.Grab(), EXGrabResult::Failed);
}

TEST_P(ScreenGrabberTest, UnknownMonitorsAndServersDoNotOpen) {
    EXPECT_FALSE(TXScreenGrabber(GetParam(), m_server.Display()).Open("NO-SUCH"));
    EXPECT_FALSE(TXScreenGrabber(GetParam(), ":4093").Open("screen"));
}

INSTANTIATE_TEST_SUITE_P(Methods, ScreenGrabberTest, ::testing::Values(EXGrabMethod::Shm, EXGrabMethod::Plain),
                         [](const auto& info) { return info.param == EXGrabMethod::Shm ? "Shm" : "Plain"; });

TEST(ScreenGrabberServerTest, WithoutSharedMemoryOnlyThePlainGrabOpens) {
    TXvfb server({"-screen", "0", "640x480x24", "-extension", "MIT-SHM"});
    if (!server.Running()) GTEST_SKIP() << "Xvfb is not installed";
    // The server's one output, "screen", is its monitor.
    EXPECT_FALSE(TXScreenGrabber(EXGrabMethod::Shm, server.Display()).Open("screen"));
    EXPECT_TRUE(TXScreenGrabber(EXGrabMethod::Plain, server.Display()).Open("screen"));
}

TEST(ScreenGrabberServerTest, ASixteenBitRootOpensNeither) {
    TXvfb server({"-screen", "0", "640x480x16"});
    if (!server.Running()) GTEST_SKIP() << "Xvfb is not installed";
    EXPECT_FALSE(TXScreenGrabber(EXGrabMethod::Shm, server.Display()).Open("screen"));
    EXPECT_FALSE(TXScreenGrabber(EXGrabMethod::Plain, server.Display()).Open("screen"));
}

TEST(XErrorTrapTest, AnErrorIsRecordedForItsOwnConnectionOnly) {
    TXvfb& server = TXvfb::Shared();
    if (!server.Running()) GTEST_SKIP() << "Xvfb is not installed";
    InstallXErrorTrap();
    Display* failing = XOpenDisplay(server.Display().c_str());
    Display* other = XOpenDisplay(server.Display().c_str());
    ASSERT_NE(failing, nullptr);
    ASSERT_NE(other, nullptr);
    XMapWindow(failing, 0x1fffff);  // no such window
    XMapWindow(other, DefaultRootWindow(other));
    EXPECT_EQ(SyncAndTakeXError(failing), BadWindow);
    EXPECT_EQ(SyncAndTakeXError(failing), 0);
    EXPECT_EQ(SyncAndTakeXError(other), 0);
    for (Display* display : {failing, other}) {
        ForgetXErrors(display);
        XCloseDisplay(display);
    }
}

TEST(DrmAdaptersTest, VendorsComeFromTheCardsInOrder) {
    char root[] = "/tmp/drm-test-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::filesystem::path drm = std::filesystem::path(root) / "class" / "drm";
    auto addCard = [&](const char* name, const char* vendor) {
        std::filesystem::create_directories(drm / name / "device");
        std::ofstream(drm / name / "device" / "vendor") << vendor;
    };
    addCard("card1", "0x10de\n");
    addCard("card0", "0x8086\n");
    addCard("card0-HDMI-A-1", "0x1002\n");
    addCard("card2", "garbage\n");
    SetDrmSysfsRoot(root);
    EXPECT_EQ(DrmAdapterVendors(), (std::vector<uint16_t>{kIntelVendorId, 0x10de}));
    SetDrmSysfsRoot(std::string(root) + "/missing");
    EXPECT_TRUE(DrmAdapterVendors().empty());
    SetDrmSysfsRoot({});
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace platform
