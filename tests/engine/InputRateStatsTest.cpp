#include "engine/InputRateStats.h"

#include <gtest/gtest.h>

#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

constexpr int64_t kTicksPerMs = platform::PerfCounter::Frequency() / 1000;

// Feeds `frames` frames `intervalMs` apart starting at `startMs`; returns the
// last result.
int32_t Feed(InputRateStats& stats, int64_t& nowMs, int frames, int intervalMs) {
    int32_t result = 0;
    for (int i = 0; i < frames; ++i) {
        result = stats.Update(nowMs * kTicksPerMs);
        nowMs += intervalMs;
    }
    return result;
}

TEST(InputRateStatsTest, SteadyTwentyFivePerSecondGives2500AfterTheFirstWindow) {
    InputRateStats stats;
    int64_t nowMs = 1000;
    EXPECT_EQ(Feed(stats, nowMs, 50, 40), 0);  // the first window is still open
    EXPECT_EQ(stats.WindowCount(), 0);
    Feed(stats, nowMs, 150, 40);
    EXPECT_EQ(stats.WindowCount(), 3);
    EXPECT_EQ(Feed(stats, nowMs, 1, 40), 2500);
    EXPECT_FLOAT_EQ(stats.LastRate(), 25.0f);
}

TEST(InputRateStatsTest, MostFrequentRateWinsAndTiesGoToTheLowerRate) {
    InputRateStats stats;
    int64_t nowMs = 0;
    Feed(stats, nowMs, 201, 40);  // windows of 25.5, then 25 three times
    EXPECT_EQ(stats.HistogramAt(2550), 1);
    EXPECT_EQ(stats.HistogramAt(2500), 3);
    Feed(stats, nowMs, 400, 20);  // 49.5 once, then 50 three times
    EXPECT_EQ(stats.HistogramAt(5000), 3);
    EXPECT_EQ(stats.Update(nowMs * kTicksPerMs), 2500);  // a tie goes to the first bucket
    nowMs += 20;
    Feed(stats, nowMs, 200, 20);
    EXPECT_EQ(stats.Update(nowMs * kTicksPerMs), 5000);
}

TEST(InputRateStatsTest, PauseLongerThan32767MsWrapsAndKeepsTheWindowOpen) {
    InputRateStats stats;
    int64_t nowMs = 0;
    Feed(stats, nowMs, 1, 0);
    // 40 s later: 40000 ms is negative as a 16-bit count.
    nowMs += 40000;
    Feed(stats, nowMs, 1, 0);
    EXPECT_EQ(stats.WindowCount(), 0);
    // 65536 + 2000 ms after the window start reads as 2000 again.
    nowMs = 65536 + 2000;
    Feed(stats, nowMs, 1, 0);
    EXPECT_EQ(stats.WindowCount(), 1);
    EXPECT_FLOAT_EQ(stats.LastRate(), 3 * 1000.0f / 2000);
}

TEST(InputRateStatsTest, ResetRequestStartsAfreshWithTheNewWindow) {
    InputRateStats stats;
    int64_t nowMs = 0;
    Feed(stats, nowMs, 200, 40);
    EXPECT_GT(stats.WindowCount(), 0);
    stats.RequestReset(1000);
    EXPECT_EQ(Feed(stats, nowMs, 1, 40), 0);
    EXPECT_EQ(stats.WindowCount(), 0);
    EXPECT_EQ(stats.TotalFrames(), 1);
    Feed(stats, nowMs, 26, 40);  // a 1000 ms window closes now
    EXPECT_EQ(stats.WindowCount(), 1);
}

TEST(InputRateStatsTest, RatesBeyondTheHistogramLandInTheLastBucket) {
    InputRateStats stats;
    // 200000 frames in 2 s: 100000 per second.
    for (int i = 0; i < 200000; ++i) stats.Update(i * 10 * 1000);
    stats.Update(2000 * kTicksPerMs);
    EXPECT_EQ(stats.HistogramAt(InputRateStats::kBuckets - 1), 1);
}

}  // namespace
}  // namespace pelorn
