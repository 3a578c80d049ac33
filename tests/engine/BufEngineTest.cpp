// Drives the buffer-matting engine only through the library's exports.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/IBufMattEngine.h"
#include "tests/support/XvfbSupport.h"

namespace {

using quindle::test::TXvfb;

class BufEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // $DISPLAY names the server before the engine lists the displays.
        if (!m_server.Running()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(m_server.SplitIntoTwoMonitors());
        common::ErrorTrail::Take();
        m_engine = CreateInstance_IBufMattEngine();
        ASSERT_NE(m_engine, nullptr);
    }
    void TearDown() override {
        ReleaseInstance_IBufMattEngine(&m_engine);
        EXPECT_EQ(m_engine, nullptr);
    }

    TXvfb& m_server = TXvfb::Shared();
    IBufMattEngine* m_engine = nullptr;
};

TEST_F(BufEngineTest, BadSizesAndBuffersAreRefused) {
    std::vector<uint8_t> source(640 * 360 * 2), destination(640 * 360 * 3);
    EXPECT_EQ(m_engine->Process(destination.data(), source.data()), 1);  // before SetUp
    common::ErrorTrail::Take();
    for (auto [width, height, screen] : {std::array<int16_t, 3>{0, 720, 0}, {4000, 3000, 0}, {640, 360, -1}}) {
        EXPECT_EQ(m_engine->SetUp(width, height, screen), 1);
        EXPECT_EQ(common::ErrorTrail::Take(), "不支持的输入参数\r");
    }
    EXPECT_EQ(m_engine->SetUp(640, 360, 5), 1);  // no such display
    common::ErrorTrail::Take();
    EXPECT_EQ(m_engine->Process(destination.data(), nullptr), 1);
    EXPECT_EQ(common::ErrorTrail::Take(), "Buf为空\r");
}

TEST_F(BufEngineTest, ParametersAreStoredOnlyInRangeAndOnlyTheFirstSix) {
    TCapParamList list;
    EXPECT_EQ(m_engine->GetParamList(&list), 6);
    EXPECT_EQ(list.entries[5].name, "Debug");
    EXPECT_EQ(m_engine->GetParam(9), 2000);
    m_engine->SetParam(11, 3);
    EXPECT_EQ(m_engine->GetParam(3), 0);
    m_engine->SetParam(5, 3);
    EXPECT_EQ(m_engine->GetParam(3), 5);
    m_engine->SetParam(1, 7);
    m_engine->SetParam(1, -1);
    EXPECT_EQ(m_engine->GetParam(7), -1);
    EXPECT_EQ(m_engine->GetParam(-1), 0);
    EXPECT_EQ(m_engine->GetParam(16), 0);
}

// A grey box on green: the box stays, the green becomes the black
// background of process flags 0. The 1 ms budget may refuse calls.
TEST_F(BufEngineTest, APresenterIsMattedOverABlackBackground) {
    constexpr int kWidth = 640, kHeight = 360;
    ASSERT_EQ(m_engine->SetUp(kWidth, kHeight, 0), 0);
    EXPECT_EQ(m_engine->SetUp(kWidth, kHeight, 0), 0);  // same size and display
    std::vector<uint8_t> source(kWidth * kHeight * 2), destination(kWidth * kHeight * 3, 0x77);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; x += 2) {
            const bool box = x >= 240 && x < 400 && y >= 120 && y < 240;
            uint8_t* pair = &source[(y * kWidth + x) * 2];
            const uint8_t luma = box ? 126 : 145, u = box ? 128 : 54, v = box ? 128 : 34;
            pair[0] = luma;
            pair[1] = u;
            pair[2] = luma;
            pair[3] = v;
        }
    }
    bool composed = false;
    for (int i = 0; i < 200 && !composed; ++i) composed = m_engine->Process(destination.data(), source.data()) == 0;
    // Speed is the benchmark's business: a build that never meets the budget
    // (the sanitizers' does not) cannot show the picture.
    if (!composed) GTEST_SKIP() << "no Process call met the 1 ms budget in this build";
    const uint8_t* corner = &destination[(10 * kWidth + 10) * 3];
    EXPECT_LE(*std::max_element(corner, corner + 3), 8);
    const uint8_t* box = &destination[(180 * kWidth + 320) * 3];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(box[c], 126, 12) << c;
}

}  // namespace
