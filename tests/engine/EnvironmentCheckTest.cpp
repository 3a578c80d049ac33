#include "engine/modules/EnvironmentCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/ErrorTrail.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using common::ErrorTrail;
using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

// The real machine, with single sources replaced.
class TFakeMachine : public TMachineEnvironment {
public:
    std::string brand = "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz";
    TNtVersion version = QueryNtVersion();
    bool failWrite = false;

    TNtVersion NtVersion() const override { return version; }
    std::string CpuBrand() const override { return brand; }
    int WriteGammaRange(const TRegKey& key, uint32_t value) const override {
        if (failWrite) return platform::kRegIoFailed;
        return TMachineEnvironment::WriteGammaRange(key, value);
    }
};

class EnvironmentCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = std::getenv("XDG_CONFIG_HOME");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::string(std::getenv("HOME")) + "/environment-" + info->name();
        fs::remove_all(m_dir);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
        ErrorTrail::Take();
    }
    void TearDown() override { setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1); }

    static int GammaRange(uint32_t* value) {
        TRegKey key;
        const int result = key.Open(RegHive::LocalMachine, kGammaRangeKey, RegAccess::Read);
        return result != platform::kRegOk ? result : key.QueryDword(kGammaRangeName, value);
    }
    static void PutGammaRange(uint32_t value) {
        TRegKey key;
        ASSERT_EQ(key.Create(RegHive::LocalMachine, kGammaRangeKey, RegAccess::All), platform::kRegOk);
        ASSERT_EQ(key.SetDword(kGammaRangeName, value), platform::kRegOk);
    }

    std::string m_saved;
    std::string m_dir;
    TFakeMachine m_machine;
};

TEST_F(EnvironmentCheckTest, ThisSystemCountsAsASupportedVersion) {
    const TNtVersion version = QueryNtVersion();
    EXPECT_EQ(version.major, 10u);
    EXPECT_EQ(version.build, 18363u);
    EXPECT_TRUE(IsSupportedVersion(version));
    EXPECT_TRUE(IsSupportedVersion({10, 0, 20000}));
    EXPECT_FALSE(IsSupportedVersion({10, 0, 20001}));
    EXPECT_FALSE(IsSupportedVersion({6, 3, 9600}));
}

TEST_F(EnvironmentCheckTest, WithTheValueInPlaceItPassesAndWritesNothing) {
    PutGammaRange(kGammaRangeUnlimited);
    const auto written = fs::last_write_time(m_dir + "/Quindle/HKLM.sqlite");
    const auto size = fs::file_size(m_dir + "/Quindle/HKLM.sqlite");
    EXPECT_TRUE(CheckEnvironment(m_machine));
    EXPECT_EQ(ErrorTrail::Take(), "");
    EXPECT_EQ(fs::last_write_time(m_dir + "/Quindle/HKLM.sqlite"), written);
    EXPECT_EQ(fs::file_size(m_dir + "/Quindle/HKLM.sqlite"), size);
}

TEST_F(EnvironmentCheckTest, AMissingOrDifferentValueIsWritten) {
    EXPECT_TRUE(CheckEnvironment(m_machine));
    uint32_t value = 0;
    ASSERT_EQ(GammaRange(&value), platform::kRegOk);
    EXPECT_EQ(value, 256u);

    PutGammaRange(0);
    EXPECT_TRUE(CheckEnvironment(m_machine));
    ASSERT_EQ(GammaRange(&value), platform::kRegOk);
    EXPECT_EQ(value, 256u);
    EXPECT_EQ(ErrorTrail::Take(), "");
}

TEST_F(EnvironmentCheckTest, TheProcessorBrandComesFromTheOverride) {
    setenv("QUINDLE_CPU_BRAND", "AMD EPYC 7B13 64-Core Processor", 1);
    EXPECT_FALSE(CheckEnvironment());
    EXPECT_EQ(ErrorTrail::Take(), " 本版本软件仅支持Intel CPU\r amd epyc 7b13 64-core processor\r");
    setenv("QUINDLE_CPU_BRAND", "Genuine INTEL stand-in", 1);
    EXPECT_TRUE(CheckEnvironment());
    setenv("QUINDLE_CPU_BRAND", "Intel(R) Xeon(R) CPU (stand-in for the CI machine)", 1);
}

TEST_F(EnvironmentCheckTest, AnotherProcessorIsRefusedBeforeAnythingIsWritten) {
    m_machine.brand = "AMD Ryzen 7 5800X";
    EXPECT_FALSE(CheckEnvironment(m_machine));
    EXPECT_EQ(ErrorTrail::Take(), " 本版本软件仅支持Intel CPU\r amd ryzen 7 5800x\r");
    EXPECT_FALSE(fs::exists(m_dir));
}

TEST_F(EnvironmentCheckTest, ALaterSystemBuildIsRefused) {
    m_machine.version = {10, 0, 22000};
    EXPECT_FALSE(CheckEnvironment(m_machine));
    EXPECT_EQ(ErrorTrail::Take(), std::string(kNotWindows10Message) + "\r");
    EXPECT_FALSE(fs::exists(m_dir));
}

TEST_F(EnvironmentCheckTest, AHiveThatCannotBeWrittenNeedsAdministratorRights) {
    // A file stands where the configuration folder should be.
    fs::create_directories(m_dir);
    std::ofstream(m_dir + "/Quindle") << "in the way";
    EXPECT_FALSE(CheckEnvironment(m_machine));
    EXPECT_EQ(ErrorTrail::Take(), "需要管理员权限运行本软件\r");
}

TEST_F(EnvironmentCheckTest, AFailedWriteIsReportedButStillPasses) {
    m_machine.failWrite = true;
    EXPECT_TRUE(CheckEnvironment(m_machine));
    EXPECT_EQ(ErrorTrail::Take(), "环境设置失败\r");
    uint32_t value = 0;
    EXPECT_EQ(GammaRange(&value), platform::kRegNotFound);
}

}  // namespace
}  // namespace pelorn
