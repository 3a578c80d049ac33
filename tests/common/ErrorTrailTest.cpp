#include "common/ErrorTrail.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/MainModule.h"
#include "platform/SharedMemory.h"

namespace common {
namespace {

class ErrorTrailTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ErrorTrail::Open());
        ErrorTrail::Take();
    }
};

TEST_F(ErrorTrailTest, IsNamedAfterTheMainModuleInLowerCaseHex) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "Global\\%x",
                  static_cast<unsigned>(platform::MainModuleAddress()));
    EXPECT_EQ(ErrorTrail::MappingName(), expected);
    EXPECT_TRUE(platform::TSharedMemory::Exists(ErrorTrail::MappingName()));
}

TEST_F(ErrorTrailTest, NewestMessageComesFirstAndTakeEmptiesTheTrail) {
    ErrorTrail::Add("A");
    ErrorTrail::Add("B");
    EXPECT_EQ(ErrorTrail::Peek(), "B\rA\r");
    EXPECT_EQ(ErrorTrail::Take(), "B\rA\r");
    EXPECT_EQ(ErrorTrail::Take(), "");
}

TEST_F(ErrorTrailTest, CodesAreWrittenInHexAndDecimal) {
    ErrorTrail::AddRet("avformat_open_input", -2);
    ErrorTrail::AddHr("CreateDevice", static_cast<int32_t>(0x80004005));
    EXPECT_EQ(ErrorTrail::Take(), "CreateDevice, hr: 80004005\ravformat_open_input, ret: -2\r");
}

TEST_F(ErrorTrailTest, ChineseTextSurvivesTheRoundTrip) {
    ErrorTrail::Add("主信号初始化失败");
    EXPECT_EQ(ErrorTrail::Take(), "主信号初始化失败\r");
}

TEST_F(ErrorTrailTest, CutAt1023UnitsKeepsTheNewestText) {
    ErrorTrail::Add(std::string(1000, 'o'));
    ErrorTrail::Add(std::string(100, 'n'));
    const std::string trail = ErrorTrail::Take();
    ASSERT_EQ(trail.size(), ErrorTrail::kMaxUnits);
    EXPECT_EQ(trail.substr(0, 101), std::string(100, 'n') + "\r");
    EXPECT_EQ(trail.back(), 'o');
}

TEST_F(ErrorTrailTest, AMessageLongerThanTheTrailKeepsItsBeginning) {
    ErrorTrail::Add("old");
    ErrorTrail::Add(std::string(2000, 'x'));
    EXPECT_EQ(ErrorTrail::Take(), std::string(ErrorTrail::kMaxUnits, 'x'));
}

TEST_F(ErrorTrailTest, CutNeverSplitsACharacterOutsideTheBasicPlane) {
    // 1022 units, then a character that takes two: only one unit is left.
    ErrorTrail::Add(std::string(1022, 'a') + "\xF0\x9F\x98\x80");
    const std::string trail = ErrorTrail::Take();
    EXPECT_EQ(trail, std::string(1022, 'a'));
}

TEST_F(ErrorTrailTest, WithoutTheMappingEveryOperationDoesNothing) {
    ErrorTrail::Close();
    ErrorTrail::Add("lost");
    EXPECT_EQ(ErrorTrail::Take(), "");
    EXPECT_FALSE(ErrorTrail::IsOpen());
    ASSERT_TRUE(ErrorTrail::Open());
    EXPECT_EQ(ErrorTrail::Take(), "");
}

}  // namespace
}  // namespace common
