// The headless runner's own logic: its command line, the layouts it sends
// and how it reads drops and delays off the composed frames.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/play/PlayLayouts.h"
#include "tools/play/TPlayOptions.h"
#include "tools/play/TPlayStats.h"

namespace pelorn::play {
namespace {

bool Parse(std::vector<const char*> args, TPlayOptions& options, std::string& error) {
    args.insert(args.begin(), "pelorn-play");
    return ParsePlayOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(PlayOptionsTest, DefaultsAreTheConsolesOutputForTenSeconds) {
    TPlayOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"clip.mp4"}, options, error)) << error;
    EXPECT_EQ(options.file, "clip.mp4");
    EXPECT_EQ(options.width, 1280);
    EXPECT_EQ(options.height, 720);
    EXPECT_EQ(options.pixelFormat, 1);
    EXPECT_EQ(options.frameRate, 30);
    EXPECT_EQ(options.seconds, kDefaultSeconds);
    EXPECT_EQ(options.frames, 0);
    EXPECT_EQ(options.processFlags, 0x80u);
    EXPECT_TRUE(options.virtualCamera);
}

TEST(PlayOptionsTest, EveryOptionIsRead) {
    TPlayOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--size", "1920x1080", "--format", "bgra", "--fps", "25", "--frames",
                       "600", "--flags", "0x280", "--param", "0=-20", "--param", "8=30",
                       "--layout", "dual", "--raw-out", "out.raw", "--png-every", "30", "snaps",
                       "--no-vcam", "clip.mp4"},
                      options, error))
        << error;
    EXPECT_EQ(options.width, 1920);
    EXPECT_EQ(options.height, 1080);
    EXPECT_EQ(options.pixelFormat, 28);
    EXPECT_EQ(options.frameRate, 25);
    EXPECT_EQ(options.frames, 600);
    EXPECT_EQ(options.seconds, 0);
    EXPECT_EQ(options.processFlags, 0x280u);
    ASSERT_EQ(options.params.size(), 2u);
    EXPECT_EQ(options.params[0], (std::pair<int, int>{0, -20}));
    EXPECT_EQ(options.params[1], (std::pair<int, int>{8, 30}));
    EXPECT_EQ(options.layout, TLayoutChoice::kDual);
    EXPECT_EQ(options.rawOut, "out.raw");
    EXPECT_EQ(options.pngEvery, 30);
    EXPECT_EQ(options.pngDir, "snaps");
    EXPECT_FALSE(options.virtualCamera);
}

TEST(PlayOptionsTest, CamerasAreNamedOrStoodIn) {
    TPlayOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--camera", "/dev/video2"}, options, error)) << error;
    EXPECT_EQ(options.camera, "/dev/video2");
    ASSERT_TRUE(Parse({"--camera-standin", "Desk|640x480@30|lavfi|testsrc2"}, options, error)) << error;
    EXPECT_EQ(options.camera, "Desk");
    EXPECT_EQ(options.cameraStandin, "Desk|640x480@30|lavfi|testsrc2");
    EXPECT_TRUE(options.file.empty());
}

TEST(PlayOptionsTest, BadArgumentsAreNamed) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"a.mp4", "b.mp4"},
        {"a.mp4", "--size", "1920"},
        {"a.mp4", "--size", "0x720"},
        {"a.mp4", "--format", "rgb24"},
        {"a.mp4", "--fps"},
        {"a.mp4", "--frames", "-3"},
        {"a.mp4", "--seconds", "soon"},
        {"a.mp4", "--frames", "10", "--seconds", "2"},
        {"a.mp4", "--flags", "xyz"},
        {"a.mp4", "--param", "16=1"},
        {"a.mp4", "--param", "3"},
        {"a.mp4", "--layout", "grid"},
        {"a.mp4", "--png-every", "10"},
        {"a.mp4", "--loud"},
        {"a.mp4", "--camera", "Cam"},
        {"--camera"},
    };
    for (const auto& args : bad) {
        TPlayOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

TEST(PlayLayoutsTest, DualViewsStandSideBySideAtHalfSize) {
    const TCapLayout layout = BuiltInLayout(TLayoutChoice::kDual);
    EXPECT_EQ(layout.LayerCnt, 2);
    EXPECT_EQ(layout.BuildIn, 1);
    EXPECT_EQ(layout.MaxWidth, 1920);
    EXPECT_EQ(layout.layers[0].Flag, 5);
    EXPECT_EQ(layout.layers[1].Id, 1);
    EXPECT_EQ(layout.layers[1].Position[0].x, 960);
    EXPECT_EQ(layout.layers[1].Position[0].y, 270);
    EXPECT_EQ(layout.layers[1].Position[2].x, 1919);
    EXPECT_EQ(layout.layers[1].Position[2].y, 809);
    EXPECT_EQ(layout.layers[2].Id, TCapLayer::kUnused);
    EXPECT_EQ(layout.Name[0], u'双');
}

TEST(PlayLayoutsTest, FullScreenAndCustomLayers) {
    const TCapLayout full = BuiltInLayout(TLayoutChoice::kFullScreen);
    EXPECT_EQ(full.layers[1].Position[2].x, 1919);
    EXPECT_EQ(full.layers[1].Position[3].y, 1079);
    const TCapLayout custom = BuiltInLayout(TLayoutChoice::kCustom);
    EXPECT_EQ(custom.BuildIn, 0);
    EXPECT_EQ(custom.layers[0].Flag, 7);
    EXPECT_EQ(custom.layers[0].Position[2].x, 1060);
    EXPECT_EQ(custom.layers[0].Position[2].y, 640);
    EXPECT_EQ(custom.layers[1].Position[0].x, 300);
}

TPlayStats::TSample Sample(int64_t sequence, int64_t callbackMicros, int64_t delayMicros = 2000,
                           int64_t processMs = 4) {
    return {sequence, 3000, processMs, callbackMicros - delayMicros, callbackMicros};
}

TEST(PlayStatsTest, SingleGapsAreLowLatencyDrops) {
    TPlayStats stats;
    int64_t sequence = 0;
    for (int i = 0; i < 30; ++i) {
        stats.Add(Sample(sequence, i * 33'333));
        sequence += i % 10 == 9 ? 2 : 1;  // one frame skipped every ten
    }
    const TPlayStats::TFigures figures = stats.Total();
    EXPECT_EQ(figures.frames, 30);
    EXPECT_EQ(figures.lowLatencyDrops, 2);
    EXPECT_EQ(figures.queueFullDrops, 0);
    EXPECT_DOUBLE_EQ(figures.measuredRate, 30.0);
    EXPECT_NEAR(figures.deliveredRate, 30.0, 0.01);
}

TEST(PlayStatsTest, RefusalsAfterAFullQueueWasDrainedAreQueueFull) {
    TPlayStats stats;
    stats.Add(Sample(0, 0));
    // A stalled worker: 1..99 queued, 100..119 refused. It drops 1..93 and
    // delivers 94..99, then the frames after the refused ones.
    int64_t now = 4'000'000;
    for (int64_t sequence = 94; sequence <= 99; ++sequence) stats.Add(Sample(sequence, now += 10));
    for (int64_t sequence = 120; sequence < 140; ++sequence) {
        stats.Add(Sample(sequence, now += 33'333));
    }
    const TPlayStats::TFigures figures = stats.Total();
    EXPECT_EQ(figures.lowLatencyDrops, 93);
    EXPECT_EQ(figures.queueFullDrops, 20);
}

TEST(PlayStatsTest, WindowsHoldTheirOwnFramesAndPercentiles) {
    TPlayStats stats;
    for (int i = 0; i < 100; ++i) stats.Add(Sample(i, i * 1000, (i + 1) * 100, i % 10));
    TPlayStats::TFigures window = stats.TakeWindow();
    EXPECT_EQ(window.frames, 100);
    EXPECT_EQ(window.worstProcessMs, 9);
    EXPECT_EQ(window.medianProcessMs, 5);
    EXPECT_DOUBLE_EQ(window.medianDelayMs, 5.1);
    EXPECT_DOUBLE_EQ(window.p99DelayMs, 10.0);
    stats.Add(Sample(100, 200'000));
    window = stats.TakeWindow();
    EXPECT_EQ(window.frames, 1);
    EXPECT_EQ(stats.Total().frames, 101);
}

}  // namespace
}  // namespace pelorn::play
