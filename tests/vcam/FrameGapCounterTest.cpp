#include "tools/vcam/TFrameGapCounter.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace pelorn::vcam {
namespace {

int64_t Feed(TFrameGapCounter& gaps, const std::vector<int64_t>& ptsList) {
    int64_t lost = 0;
    for (int64_t pts : ptsList) lost += gaps.Add(pts);
    return lost;
}

TEST(FrameGapCounterTest, SteadyFramesLoseNothing) {
    TFrameGapCounter gaps;
    EXPECT_EQ(Feed(gaps, {0, 40, 80, 120, 160, 200}), 0);
}

TEST(FrameGapCounterTest, AGapOfSevenStepsIsSixLostFrames) {
    TFrameGapCounter gaps;
    EXPECT_EQ(Feed(gaps, {0, 1, 2, 3, 4, 11, 12}), 6);
}

TEST(FrameGapCounterTest, JitterIsNoLoss) {
    TFrameGapCounter gaps;
    EXPECT_EQ(Feed(gaps, {0, 33, 67, 100, 133, 167, 200, 234}), 0);
    EXPECT_EQ(gaps.Add(300), 1);  // 66 is two steps of 33
}

TEST(FrameGapCounterTest, AGapBeforeTheStepIsLearntCountsNothing) {
    TFrameGapCounter gaps;
    EXPECT_EQ(Feed(gaps, {0, 1, 9}), 0);
}

TEST(FrameGapCounterTest, PtsThatGoBackOrAreMissingStartAfresh) {
    TFrameGapCounter gaps;
    const int64_t noPts = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(Feed(gaps, {1000, 1001, 1002, 0, 50}), 0);  // back to 0: a new source
    EXPECT_EQ(Feed(gaps, {noPts, noPts, 7, 8, 9, 10}), 0);
    EXPECT_EQ(Feed(gaps, {std::numeric_limits<int64_t>::max()}), 0);  // no overflow
}

TEST(FrameGapCounterTest, RestartForgetsThePreviousWriter) {
    TFrameGapCounter gaps;
    Feed(gaps, {0, 1, 2, 3});
    gaps.Restart();
    EXPECT_EQ(Feed(gaps, {500, 501, 502}), 0);
}

}  // namespace
}  // namespace pelorn::vcam
