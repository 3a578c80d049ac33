#include "engine/EngineLibrary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/modules/GpuPreference.h"
#include "platform/ExecutablePath.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

int GpuPreference(std::string* value) {
    TRegKey key;
    const int result = key.Open(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::Read);
    return result != platform::kRegOk ? result : key.QueryString(GpuPreferenceValueName(), value);
}

class EngineLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetMessageBoxHandler([this](const std::string& text) { m_boxes.push_back(text); });
        common::ErrorTrail::Take();
    }
    void TearDown() override {
        ExitEngineLibrary();
        setenv("QUINDLE_CPU_BRAND", "Intel(R) Xeon(R) CPU (stand-in for the CI machine)", 1);
        platform::SetMessageBoxHandler(nullptr);
    }

    std::vector<std::string> m_boxes;
};

TEST_F(EngineLibraryTest, LoadingWritesTheGpuPreferenceAndUnloadingDeletesIt) {
    ASSERT_TRUE(InitEngineLibrary());
    EXPECT_FALSE(EngineLibraryRefused());
    EXPECT_TRUE(PrepareEngineCreation());
    EXPECT_TRUE(m_boxes.empty());
    std::string value;
    ASSERT_EQ(GpuPreference(&value), platform::kRegOk);
    EXPECT_EQ(value, "GpuPreference=1;");
    EXPECT_EQ(GpuPreferenceValueName(), platform::ExecutablePath());

    ExitEngineLibrary();
    EXPECT_EQ(GpuPreference(&value), platform::kRegNotFound);
}

TEST_F(EngineLibraryTest, ARefusedMachineShowsTheWholeTrailAndWritesNoPreference) {
    common::ErrorTrail::Add("older text");
    setenv("QUINDLE_CPU_BRAND", "AMD EPYC 7B13", 1);
    EXPECT_FALSE(InitEngineLibrary());
    EXPECT_TRUE(EngineLibraryRefused());
    EXPECT_FALSE(PrepareEngineCreation());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], " 本版本软件仅支持Intel CPU\r amd epyc 7b13\rolder text\r");
    EXPECT_EQ(common::ErrorTrail::Take(), "");  // taken by the message box
    std::string value;
    EXPECT_NE(GpuPreference(&value), platform::kRegOk);

    // Unloading a refused library leaves the value of another host of the
    // same program alone.
    TRegKey key;
    ASSERT_EQ(key.Create(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::All), platform::kRegOk);
    ASSERT_EQ(key.SetString(GpuPreferenceValueName(), kGpuPreferenceValue), platform::kRegOk);
    ExitEngineLibrary();
    EXPECT_EQ(GpuPreference(&value), platform::kRegOk);
    EXPECT_EQ(key.DeleteValue(GpuPreferenceValueName()), platform::kRegOk);

    setenv("QUINDLE_CPU_BRAND", "Intel(R) Core(TM) i5", 1);
    EXPECT_TRUE(InitEngineLibrary());
    EXPECT_TRUE(PrepareEngineCreation());
}

}  // namespace
}  // namespace pelorn
