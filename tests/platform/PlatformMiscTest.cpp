#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/KnownFolders.h"
#include "platform/MainModule.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

namespace platform {
namespace {

TEST(PerfCounterTest, IsMonotonicWithNanosecondTicks) {
    EXPECT_EQ(PerfCounter::Frequency(), 1'000'000'000);
    const int64_t first = PerfCounter::Now();
    const int64_t second = PerfCounter::Now();
    EXPECT_LE(first, second);
}

int64_t FixedClock() { return 42; }

TEST(PerfCounterTest, OverrideReplacesTheClockUntilCleared) {
    PerfCounter::OverrideForTesting(&FixedClock);
    EXPECT_EQ(PerfCounter::Now(), 42);
    PerfCounter::OverrideForTesting(nullptr);
    EXPECT_GT(PerfCounter::Now(), 42);
}

TEST(DebugOutputTest, WritesToStandardErrorOnlyWhenEnabled) {
    unsetenv("QUINDLE_DEBUG");
    testing::internal::CaptureStderr();
    DebugOutput("hidden\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    setenv("QUINDLE_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    DebugOutput("shown\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown\n");
    unsetenv("QUINDLE_DEBUG");
}

TEST(MessageBoxTest, GoesToTheInstalledHandlerElseToStandardError) {
    std::vector<std::string> shown;
    SetMessageBoxHandler([&](const std::string& text) { shown.push_back(text); });
    ShowMessageBox("摄像机读取错误");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "摄像机读取错误");

    SetMessageBoxHandler(nullptr);
    testing::internal::CaptureStderr();
    ShowMessageBox("no handler");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "no handler\n");
}

TEST(MainModuleTest, IsTheStartOfTheExecutableImage) {
    const uintptr_t base = MainModuleAddress();
    const auto code = reinterpret_cast<uintptr_t>(&MainModuleAddress);
    ASSERT_NE(base, 0u);
    EXPECT_LE(base, code);
    EXPECT_LT(code - base, uintptr_t{1} << 30);
    EXPECT_EQ(base % 4096, 0u);
}

TEST(KnownFoldersTest, FollowTheXdgVariables) {
    setenv("XDG_DATA_HOME", "/tmp/q-data", 1);
    setenv("XDG_STATE_HOME", "/tmp/q-state", 1);
    setenv("XDG_CONFIG_HOME", "/tmp/q-config", 1);
    EXPECT_EQ(LocalAppDataFolder(), "/tmp/q-data");
    EXPECT_EQ(LogFolder(), "/tmp/q-state/Quindle");
    EXPECT_EQ(ConfigFolder(), "/tmp/q-config/Quindle");

    const std::string home = getenv("HOME");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(LogFolder(), home + "/.local/state/Quindle");
    setenv("XDG_STATE_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(LogFolder(), home + "/.local/state/Quindle");
    EXPECT_EQ(RecordingsFolder(), home);
    ASSERT_TRUE(EnsureFolder(home + "/Videos"));
    EXPECT_EQ(RecordingsFolder(), home + "/Videos");

    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (home + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
}

}  // namespace
}  // namespace platform
