#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/DisplayContext.h"
#include "platform/FakeDisplayBackend.h"
#include "platform/GammaResample.h"
#include "platform/XDisplayBackend.h"
#include "tests/support/XvfbSupport.h"

extern char** environ;

namespace platform {
namespace {

std::vector<uint16_t> LinearChannel(size_t size) {
    std::vector<uint16_t> channel(size);
    for (size_t i = 0; i < size; ++i) channel[i] = static_cast<uint16_t>(i * 65535 / (size - 1));
    return channel;
}

TEST(GammaResampleTest, EqualSizesCopyExactly) {
    std::vector<uint16_t> in(256);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint16_t>((i * 7919) % 65536);
    std::vector<uint16_t> out(256);
    ResampleGammaChannel(in.data(), in.size(), out.data(), out.size());
    EXPECT_EQ(out, in);
}

TEST(GammaResampleTest, LargerCrtcRampsStayLinearAndKeepTheEnds) {
    const std::vector<uint16_t> ours = LinearChannel(256);
    std::vector<uint16_t> crtc(1024);
    ResampleGammaChannel(ours.data(), ours.size(), crtc.data(), crtc.size());
    EXPECT_EQ(crtc.front(), 0);
    EXPECT_EQ(crtc.back(), 65535);
    const std::vector<uint16_t> expected = LinearChannel(1024);
    for (size_t i = 0; i < crtc.size(); ++i) EXPECT_NEAR(crtc[i], expected[i], 1) << i;
}

TEST(GammaResampleTest, ARampSurvivesTheWayThroughAnotherSize) {
    // A tint-like ramp: flat, then a step, then flat.
    std::vector<uint16_t> ours(256);
    for (size_t i = 0; i < ours.size(); ++i) ours[i] = i < 128 ? 0 : 255 * 256;
    for (size_t crtcSize : {size_t{2}, size_t{256}, size_t{1024}, size_t{4096}}) {
        std::vector<uint16_t> crtc(crtcSize);
        ResampleGammaChannel(ours.data(), ours.size(), crtc.data(), crtc.size());
        std::vector<uint16_t> back(256);
        ResampleGammaChannel(crtc.data(), crtc.size(), back.data(), back.size());
        EXPECT_EQ(back.front(), ours.front()) << crtcSize;
        EXPECT_EQ(back.back(), ours.back()) << crtcSize;
        if (crtcSize >= 256) {
            // Only the entries next to the step may blur.
            for (size_t i = 0; i < 256; ++i) {
                if (i == 127 || i == 128) continue;
                EXPECT_EQ(back[i], ours[i]) << crtcSize << " " << i;
            }
        }
    }
}

class DisplayContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_fake.AddDisplay("DP-1", {0, 0, 1920, 1080}, false);
        m_fake.AddDisplay("HDMI-1", {1920, 0, 3200, 720}, true);
        InstallDisplayBackend(&m_fake);
    }
    void TearDown() override { InstallDisplayBackend(nullptr); }

    TFakeDisplayBackend m_fake;
};

TEST_F(DisplayContextTest, AContextReadsAndSetsItsOutputsRamp) {
    TDisplayContext context;
    EXPECT_FALSE(context.Open("VGA-9"));
    TGammaRamp ramp{};
    EXPECT_FALSE(context.GetGammaRamp(ramp));
    EXPECT_FALSE(context.SetGammaRamp(ramp));

    ASSERT_TRUE(context.Open("HDMI-1"));
    ASSERT_TRUE(context.GetGammaRamp(ramp));
    EXPECT_EQ(ramp[255], 255 * 256);
    ramp.fill(1234);
    ASSERT_TRUE(context.SetGammaRamp(ramp));
    EXPECT_EQ(m_fake.Ramp("HDMI-1"), ramp);
    EXPECT_EQ(m_fake.SetRampCount("DP-1"), 0);

    m_fake.FailGamma(true);
    EXPECT_FALSE(context.SetGammaRamp(ramp));
}

TEST_F(DisplayContextTest, ContextsAreClosedByReleaseReopenAndDestruction) {
    {
        TDisplayContext context;
        ASSERT_TRUE(context.Open("DP-1"));
        ASSERT_TRUE(context.Open("HDMI-1"));  // the first one is released
        EXPECT_EQ(m_fake.OpenContextCount(), 1);
        context.Release();
        EXPECT_FALSE(context.IsOpen());
        EXPECT_EQ(m_fake.OpenContextCount(), 0);
        ASSERT_TRUE(context.Open("DP-1"));
    }
    EXPECT_EQ(m_fake.OpenContextCount(), 0);
}

TEST(XDisplayBackendTest, NoServerMeansNoDisplaysAndNoContext) {
    TXDisplayBackend backend(":4093");  // no server listens there
    EXPECT_TRUE(backend.EnumerateDisplays().empty());
    EXPECT_EQ(backend.OpenContext("screen"), 0u);
    TGammaRamp ramp{};
    EXPECT_FALSE(backend.GetGammaRamp(0, ramp));
}

// A real X server without a screen.
class XvfbTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string xvfb = quindle::test::FindProgram("Xvfb");
        if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
        // Xvfb picks a free display number itself and writes it to the pipe
        // once it accepts clients.
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        std::string readyFd = std::to_string(ready[1]);
        std::vector<std::string> args = {xvfb,        "-displayfd", readyFd,  "-screen",
                                         "0",         "1280x720x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, ready[0]);
        const int spawned = posix_spawn(&m_pid, xvfb.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        ASSERT_EQ(spawned, 0);
        std::string number;
        char c = 0;
        while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;
        close(ready[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        m_strDisplay = ":" + number;
    }
    void TearDown() override { StopServer(); }

    void StopServer() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
    }

    pid_t m_pid = 0;
    std::string m_strDisplay;
};

TEST_F(XvfbTest, EnumeratesTheServersMonitor) {
    TXDisplayBackend backend(m_strDisplay);
    const std::vector<TDisplayInfo> displays = backend.EnumerateDisplays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_FALSE(displays[0].deviceName.empty());
    EXPECT_EQ(displays[0].monitor.left, 0);
    EXPECT_EQ(displays[0].monitor.top, 0);
    EXPECT_EQ(displays[0].monitor.right, 1280);
    EXPECT_EQ(displays[0].monitor.bottom, 720);

    const uintptr_t context = backend.OpenContext(displays[0].deviceName);
    EXPECT_NE(context, 0u);
    EXPECT_EQ(backend.OpenContext("NO-SUCH-OUTPUT"), 0u);
    backend.CloseContext(context);
}

// Xvfb resets whenever its last client leaves, dropping the ramps and
// refusing connections while it resets; the backend's one connection keeps
// it from resetting between calls, so every ramp written reads back.
TEST_F(XvfbTest, EveryGammaRampWrittenReadsBack) {
    TXDisplayBackend backend(m_strDisplay);
    const std::vector<TDisplayInfo> displays = backend.EnumerateDisplays();
    ASSERT_EQ(displays.size(), 1u);
    const uintptr_t context = backend.OpenContext(displays[0].deviceName);
    ASSERT_NE(context, 0u);
    for (int round = 0; round < 20; ++round) {
        TGammaRamp written{};
        for (int i = 0; i < 3 * kGammaEntries; ++i) {
            written[i] = static_cast<uint16_t>((i % kGammaEntries) * (round + 1) * 13);
        }
        ASSERT_TRUE(backend.SetGammaRamp(context, written)) << round;
        TGammaRamp read{};
        ASSERT_TRUE(backend.GetGammaRamp(context, read)) << round;
        ASSERT_EQ(read, written) << round;
    }
    TGammaRamp ramp{};
    EXPECT_FALSE(backend.GetGammaRamp(0, ramp));
    EXPECT_FALSE(backend.SetGammaRamp(0, ramp));
    backend.CloseContext(context);
}

TEST_F(XvfbTest, AServerThatWentAwayFailsEveryCallAndTheProcessLivesOn) {
    TXDisplayBackend backend(m_strDisplay);
    ASSERT_EQ(backend.EnumerateDisplays().size(), 1u);
    const uintptr_t context = backend.OpenContext(backend.EnumerateDisplays()[0].deviceName);
    ASSERT_NE(context, 0u);
    StopServer();
    TGammaRamp ramp{};
    EXPECT_FALSE(backend.SetGammaRamp(context, ramp));
    EXPECT_FALSE(backend.GetGammaRamp(context, ramp));
    EXPECT_TRUE(backend.EnumerateDisplays().empty());
    EXPECT_EQ(backend.OpenContext("screen"), 0u);
    backend.CloseContext(context);
}

}  // namespace
}  // namespace platform
