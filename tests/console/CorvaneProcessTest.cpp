// The console program itself: one instance per session, and the source
// actions with the real engine on an X server of the test's own.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/Utf.h"
#include "console/services/SettingsStore.h"
#include "tests/ChildProcess.h"
#include "tests/media/PulseTestSupport.h"
#include "tests/support/XvfbSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadWholeFile;
using testsupport::TChildProcess;
using testsupport::WaitFor;

constexpr int kStartMs = 30000;

// True once a console listens on the socket.
bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

class CorvaneProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_strRunDir = pattern;
        setenv("XDG_RUNTIME_DIR", m_strRunDir.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        console::WriteClient(1280, 720, 30, 28);
    }
    void TearDown() override { fs::remove_all(m_strRunDir); }

    // Starts the console; its boxes go to prompts-<name>.txt.
    bool Start(TChildProcess& child, const std::string& name, std::vector<std::string> args = {}) {
        setenv("QUINDLE_PROMPTS", Prompts(name).c_str(), 1);
        args.insert(args.begin(), CORVANE_PATH);
        return child.Start(args, m_strRunDir + "/stderr-" + name + ".txt", m_strRunDir + "/stdout-" + name + ".txt");
    }
    std::string Prompts(const std::string& name) const { return m_strRunDir + "/prompts-" + name + ".txt"; }
    std::string SocketPath() const { return m_strRunDir + "/Quindle/corvane.sock"; }
    bool PromptsHold(const std::string& name, const std::string& text) const {
        return WaitFor([&] { return ReadWholeFile(Prompts(name)).find(text) != std::string::npos; }, kStartMs);
    }

    std::string m_strRunDir;
};

TEST_F(CorvaneProcessTest, SecondStartReportsTheRunningConsoleAndAKilledOneBlocksNothing) {
    TChildProcess first;
    ASSERT_TRUE(Start(first, "first"));
    ASSERT_TRUE(WaitFor([&] { return Answers(SocketPath()); }, kStartMs)) << first.Stderr();

    TChildProcess second;
    ASSERT_TRUE(Start(second, "second"));
    EXPECT_EQ(second.WaitForExit(kStartMs), 0);
    EXPECT_EQ(ReadWholeFile(Prompts("second")), "Quindle控制面板已经启动\n");
    EXPECT_EQ(first.WaitForExit(0), -1) << "the first console runs on";

    first.Signal(SIGKILL);
    EXPECT_EQ(first.WaitForExit(kStartMs), 128 + SIGKILL);
    TChildProcess third;
    ASSERT_TRUE(Start(third, "third"));
    ASSERT_TRUE(WaitFor([&] { return Answers(SocketPath()); }, kStartMs)) << third.Stderr();
    third.Signal(SIGTERM);
    EXPECT_EQ(third.WaitForExit(kStartMs), 0) << "SIGTERM runs the exit sequence";
}

TEST_F(CorvaneProcessTest, RefusedMachineShowsTheReasonThenNoEngineAndEnds) {
    const std::string brand = std::getenv("QUINDLE_CPU_BRAND") != nullptr ? std::getenv("QUINDLE_CPU_BRAND") : "";
    setenv("QUINDLE_CPU_BRAND", "Stand-in Processor of another maker", 1);
    TChildProcess console;
    const bool started = Start(console, "refused-machine");
    setenv("QUINDLE_CPU_BRAND", brand.c_str(), 1);
    ASSERT_TRUE(started);
    EXPECT_EQ(console.WaitForExit(kStartMs), 0) << console.Stderr();
    const std::string shown = ReadWholeFile(Prompts("refused-machine"));
    const size_t failure = shown.find("引擎初始化失败\n");
    ASSERT_NE(failure, std::string::npos) << shown;
    EXPECT_GT(failure, 0u) << "the engine's reason comes first";
}

class CorvaneSourceTest : public CorvaneProcessTest {
protected:
    void SetUp() override {
        CorvaneProcessTest::SetUp();
        ASSERT_TRUE(quindle::test::TXvfb::Shared().Running());
    }
};

TEST_F(CorvaneSourceTest, SampleClipPlaysAndIsRemembered) {
    TChildProcess console;
    ASSERT_TRUE(Start(console, "play", {"--media", PRESENTER_SAMPLE, "--measure", "2"}));
    ASSERT_EQ(console.WaitForExit(60000), 0) << console.Stderr();
    EXPECT_NE(console.Stdout().find("frames shown: "), std::string::npos) << console.Stdout();
    EXPECT_EQ(console.Stdout().find("frames shown: 0 "), std::string::npos) << console.Stdout();
    char16_t stored[260] = {};
    ASSERT_EQ(console::ReadString(stored, sizeof stored, "VideoDevName", "InputMain"), 1);
    EXPECT_EQ(common::Utf16ToUtf8(stored), PRESENTER_SAMPLE);
}

TEST_F(CorvaneSourceTest, NullSinkMonitorOpensAndIsRemembered) {
    testsupport::TPulseServer pulse;
    std::string error;
    ASSERT_TRUE(pulse.Start(&error)) << error;
    TChildProcess console;
    ASSERT_TRUE(Start(console, "audio", {"--media", PRESENTER_SAMPLE}));
    const auto storedAudio = [] {
        char16_t stored[260] = {};
        return console::ReadString(stored, sizeof stored, "AudioDevName", "InputMain") == 1
                   ? common::Utf16ToUtf8(stored)
                   : std::string();
    };
    EXPECT_TRUE(WaitFor([&] { return storedAudio() == "Monitor of qtest"; }, kStartMs))
        << storedAudio() << "\n" << ReadWholeFile(Prompts("audio"));
    console.Signal(SIGTERM);
    EXPECT_EQ(console.WaitForExit(kStartMs), 0);
    EXPECT_EQ(ReadWholeFile(Prompts("audio")), "");
}

struct TRefusal {
    int width, height, fps, pixelFormat;
    const char* text;
    const char* name;
};

class CorvaneRefusalTest : public CorvaneSourceTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(CorvaneRefusalTest, RefusedOutputFormatIsShownAndTheConsoleRunsOn) {
    const TRefusal& refusal = GetParam();
    console::WriteClient(refusal.width, refusal.height, refusal.fps, refusal.pixelFormat);
    TChildProcess console;
    ASSERT_TRUE(Start(console, "refused", {"--media", PRESENTER_SAMPLE}));
    EXPECT_TRUE(PromptsHold("refused", refusal.text)) << ReadWholeFile(Prompts("refused"));
    console.Signal(SIGTERM);
    EXPECT_EQ(console.WaitForExit(kStartMs), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Store, CorvaneRefusalTest,
    ::testing::Values(TRefusal{800, 600, 30, 28, "指定的输出分辨率不被支持: 800x600", "Size"},
                      TRefusal{1280, 720, 30, 2, "指定的颜色空间(输出)不被支持: rgb24", "PixelFormat"},
                      TRefusal{1280, 720, 60, 28, "指定的输出帧率不被支持: 60", "FrameRate"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CorvaneSourceTest, CancelledFileChoiceIsFollowedByTheTrail) {
    TChildProcess console;
    ASSERT_TRUE(Start(console, "cancel"));
    const std::string filter = "Describe Files (*.mp4)|*.mp4|All Files (*.*)|*.*||\n";
    EXPECT_TRUE(WaitFor([&] {
        const std::string shown = ReadWholeFile(Prompts("cancel"));
        const size_t at = shown.find(filter);
        return at != std::string::npos && shown.size() > at + filter.size();
    }, kStartMs)) << ReadWholeFile(Prompts("cancel"));
    console.Signal(SIGTERM);
    EXPECT_EQ(console.WaitForExit(kStartMs), 0);
}

}  // namespace
