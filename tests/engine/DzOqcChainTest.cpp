// The processing chain of the output queue: which stages a configuration
// enables, which one writes the output frame, and what reaches the output
// callback for real pictures.

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/DzOqcEngine.h"
#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"

namespace pelorn {
namespace {

using common::ErrorTrail;

struct TFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

// Keeps its own reference to the first frame the worker delivers.
struct TFirstFrame {
    std::mutex lock;
    std::condition_variable arrived;
    TFramePtr frame;

    static void Output(AVFrame* frame, void* self) {
        auto* first = static_cast<TFirstFrame*>(self);
        std::lock_guard guard(first->lock);
        if (!first->frame) first->frame.reset(av_frame_clone(frame));
        first->arrived.notify_all();
    }

    AVFrame* Wait() {
        std::unique_lock guard(lock);
        arrived.wait_for(guard, std::chrono::seconds(30), [this] { return frame != nullptr; });
        return frame.get();
    }
};

// A YUYV picture whose left half has luma `left` and right half `right`, all
// of it neutral chroma. `align` pads its lines.
TFramePtr GreyPicture(int width, int height, int left, int right, int align = 1) {
    TFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUYV422;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), align);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < width; ++x) {
            row[x * 2] = static_cast<uint8_t>(x < width / 2 ? left : right);
            row[x * 2 + 1] = 128;
        }
    }
    return frame;
}

TPipelineConfig Config(int16_t mode, int16_t inWidth, int16_t inHeight, int16_t inFormat,
                       int16_t outWidth, int16_t outHeight, int16_t outFormat) {
    return {mode, inWidth, inHeight, inFormat, outWidth, outHeight, outFormat};
}

std::vector<int> EnabledStages(const DzOqcEngine& queue) {
    std::vector<int> enabled;
    for (int i = 0; i < kStageCount; ++i) {
        if (queue.Stage(static_cast<StageIndex>(i)).enabled) enabled.push_back(i);
    }
    return enabled;
}

class DzOqcChainTest : public ::testing::Test {
protected:
    void SetUp() override { ErrorTrail::Take(); }

    // The modules as the library's start-up extracts them; holders delete
    // their copies when they unload, so every engine gets fresh ones.
    static bool PlaceModules() {
        return ModuleExtractor::ExtractInstalled().entriesWritten == 2;
    }
    static void RemoveModules() {
        std::filesystem::remove(ModuleFolder() + "/" + BrenvikDLL::kFileName);
        std::filesystem::remove(ModuleFolder() + "/" + IIMPlugIn::kFileName);
    }

    std::unique_ptr<DzOqcEngine> MakeQueue() {
        return std::make_unique<DzOqcEngine>(&TFirstFrame::Output, &m_first, &m_log);
    }

    TEngineLog m_log;
    TFirstFrame m_first;
    std::vector<uint8_t> m_canvas = std::vector<uint8_t>(DzOqcEngine::kScratchBytes);
};

// ---- Plans ------------------------------------------------------------------------------------

TEST_F(DzOqcChainTest, SameSizeBgraFromYuyvRunsOnlyTheCompositorIntoTheOutput) {
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &config);
    EXPECT_EQ(EnabledStages(*queue), std::vector<int>{kStageCompositor});
    EXPECT_EQ(queue->OutputStage(), kStageCompositor);
    EXPECT_TRUE(queue->Stage(kStageCompositor).toOutput);
    EXPECT_EQ(queue->Stage(kStageCompositor).outFormat, AV_PIX_FMT_BGRA);
    EXPECT_TRUE(queue->ChainUsable());
}

TEST_F(DzOqcChainTest, SameSizeBgraFromPlanarInputConvertsToYuyvFirst) {
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 1280, 720, AV_PIX_FMT_YUV420P, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &config);
    EXPECT_EQ(EnabledStages(*queue), (std::vector<int>{kStageInConvert, kStageCompositor}));
    EXPECT_EQ(queue->Stage(kStageInConvert).outFormat, AV_PIX_FMT_YUYV422);
    EXPECT_EQ(queue->Stage(kStageInConvert).outLinesize, 1280 * 2);
    EXPECT_EQ(queue->OutputStage(), kStageCompositor);
}

TEST_F(DzOqcChainTest, YuyvOutputIsComposedAsBgr24AndConvertedLast) {
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 1);
    queue->Configure(m_canvas.data(), &config);
    EXPECT_EQ(EnabledStages(*queue), (std::vector<int>{kStageCompositor, kStageOutConvert}));
    EXPECT_EQ(queue->Stage(kStageCompositor).outFormat, AV_PIX_FMT_BGR24);
    EXPECT_FALSE(queue->Stage(kStageCompositor).toOutput);
    EXPECT_EQ(queue->Stage(kStageOutConvert).inFormat, AV_PIX_FMT_BGR24);
    EXPECT_EQ(queue->Stage(kStageOutConvert).outFormat, AV_PIX_FMT_YUYV422);
    EXPECT_EQ(queue->OutputStage(), kStageOutConvert);
}

TEST_F(DzOqcChainTest, ModeTenScalesDownToTheTurnedSizeComposesThenRotates) {
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeScaleDown | kModeRotate, 1920, 1080,
                                          AV_PIX_FMT_YUYV422, 720, 1280, 28);
    queue->Configure(m_canvas.data(), &config);
    EXPECT_EQ(EnabledStages(*queue),
              (std::vector<int>{kStagePreScale, kStageCompositor, kStageRotate}));
    const TProcessStage& preScale = queue->Stage(kStagePreScale);
    EXPECT_EQ(preScale.outWidth, 1280);
    EXPECT_EQ(preScale.outHeight, 720);
    EXPECT_EQ(queue->Stage(kStageCompositor).inWidth, 1280);
    const TProcessStage& rotate = queue->Stage(kStageRotate);
    EXPECT_EQ(rotate.outWidth, 720);
    EXPECT_EQ(rotate.outHeight, 1280);
    EXPECT_EQ(rotate.outLinesize, 720 * 4);
    EXPECT_EQ(queue->OutputStage(), kStageRotate);
}

struct TPlanCase {
    TPipelineConfig config;
    std::vector<int> stages;
    StageIndex output;
};

class DzOqcPlanTest : public DzOqcChainTest, public ::testing::WithParamInterface<TPlanCase> {};

TEST_P(DzOqcPlanTest, EnablesTheStagesOfItsModeAndEndsAtTheOutputSize) {
    auto queue = MakeQueue();
    const TPlanCase& plan = GetParam();
    queue->Configure(m_canvas.data(), &plan.config);
    EXPECT_EQ(EnabledStages(*queue), plan.stages);
    EXPECT_EQ(queue->OutputStage(), plan.output);
    const TProcessStage& last = queue->Stage(plan.output);
    EXPECT_EQ(last.outWidth, plan.config.outWidth);
    EXPECT_EQ(last.outHeight, plan.config.outHeight);
    EXPECT_EQ(last.outFormat, plan.config.outFormat);
    EXPECT_TRUE(queue->ChainUsable());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DzOqcPlanTest,
    ::testing::Values(
        // 0: no source, the default input at the output size.
        TPlanCase{Config(0, 1280, 720, 1, 1280, 720, 3), {kStageCompositor}, kStageCompositor},
        TPlanCase{Config(kModeRotate, 720, 1280, 1, 1280, 720, 3),
                  {kStageCompositor, kStageRotate}, kStageRotate},
        TPlanCase{Config(kModeScaleUp, 640, 360, 0, 1280, 720, 28),
                  {kStageInConvert, kStageCompositor, kStagePostScale}, kStagePostScale},
        TPlanCase{Config(kModeScaleUp, 640, 360, 1, 1280, 720, 1),
                  {kStageCompositor, kStageOutConvert, kStagePostScale}, kStagePostScale},
        TPlanCase{Config(kModeScaleUp | kModeRotate, 360, 640, 1, 1280, 720, 28),
                  {kStageCompositor, kStageRotate, kStagePostScale}, kStagePostScale},
        TPlanCase{Config(kModeScaleDown, 1920, 1080, 0, 1280, 720, 1),
                  {kStageInConvert, kStagePreScale, kStageCompositor, kStageOutConvert},
                  kStageOutConvert},
        TPlanCase{Config(kModeScaleDown | kModeRotate, 1920, 1080, 13, 720, 1280, 1),
                  {kStageInConvert, kStagePreScale, kStageCompositor, kStageRotate,
                   kStageOutConvert},
                  kStageOutConvert}));

TEST_F(DzOqcChainTest, ConversionCodesOfTheModule) {
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_YUYV422), 100);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_YUVJ422P), 202);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_BGR24), 1);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_BGRA), 53);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_YUV420P), 200);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_NV12), 300);
    EXPECT_EQ(DzOqcEngine::ConversionCode(AV_PIX_FMT_YUV444P), 53);
}

TEST_F(DzOqcChainTest, ChainsItCannotCarryAreRefused) {
    // Fits: a 1080p file composed at 720p.
    EXPECT_TRUE(DzOqcEngine::CanProcess(Config(kModeScaleDown, 1920, 1080, 0, 1280, 720, 28)));
    // The YUYV copy of a 4K picture does not fit a scratch buffer.
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(kModeScaleDown, 3840, 2160, 0, 1920, 1080, 28)));
    // More pixels than the compositor's work area.
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(kModeSameSize, 2560, 1440, 1, 2560, 1440, 28)));
    // A pixel format the module would misread.
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(kModeSameSize, 640, 360, AV_PIX_FMT_YUV444P, 640,
                                                360, 28)));
    // Stages that do not end at the output size.
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(0, 1280, 720, 1, 1920, 1080, 28)));
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(kModeSameSize, 1280, 720, 1, 1280, 720, 2)));
    EXPECT_FALSE(DzOqcEngine::CanProcess(Config(kModeSameSize, 0, 0, 1, 0, 0, 28)));
}

// ---- Compositor set-up ------------------------------------------------------------------------

int LayerCount(DzOqcEngine& queue) {
    std::lock_guard guard(queue.Controls().Lock());
    return queue.Controls().LayoutLocked().LayerCnt;
}

TCapLayout FullScreenLayout() {
    TCapLayout layout{};
    layout.LayerCnt = 2;
    layout.MaxWidth = 1280;
    layout.MaxHeight = 720;
    for (int i = 0; i < TCapLayout::kMaxLayers; ++i) layout.layers[i].Id = TCapLayer::kUnused;
    for (int16_t i = 0; i < 2; ++i) {
        layout.layers[i].Id = i;
        layout.layers[i].Flag = TCapLayer::kFlagEnabled;
        layout.layers[i].Position[2] = {1279, 719};
    }
    return layout;
}

TEST_F(DzOqcChainTest, CompositorKeepsItsLayoutOnlyWhileSizeAndFormatStay) {
    ASSERT_TRUE(PlaceModules());
    auto queue = MakeQueue();
    const TPipelineConfig bgra = Config(kModeSameSize, 1280, 720, 1, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &bgra);
    queue->Controls().SetLayout(FullScreenLayout());
    ASSERT_EQ(LayerCount(*queue), 2);

    // Another input size, same working size and format: kept.
    const TPipelineConfig scaled = Config(kModeScaleDown, 1920, 1080, 0, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &scaled);
    EXPECT_EQ(LayerCount(*queue), 2);

    // Another composed format at the same size: cleared.
    const TPipelineConfig bgr = Config(kModeSameSize, 1280, 720, 1, 1280, 720, 3);
    queue->Configure(m_canvas.data(), &bgr);
    EXPECT_EQ(LayerCount(*queue), 0);
    EXPECT_EQ(queue->Compositor().OutFormat(), 3);

    // Another working size: cleared.
    queue->Controls().SetLayout(FullScreenLayout());
    const TPipelineConfig smaller = Config(kModeSameSize, 640, 360, 1, 640, 360, 3);
    queue->Configure(m_canvas.data(), &smaller);
    EXPECT_EQ(LayerCount(*queue), 0);
    EXPECT_EQ(queue->Compositor().Width(), 640);
}

TEST_F(DzOqcChainTest, CompositorThatCannotBeSetUpIsReported) {
    RemoveModules();
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 640, 360, 1, 640, 360, 28);
    queue->Configure(m_canvas.data(), &config);
    if (queue->Compositor().IsReady()) {
        GTEST_SKIP() << "this compositor sets up without the colour-conversion module";
    }
    EXPECT_EQ(ErrorTrail::Take(), "色键器初始化失败\r");
    // Frames still flow, black.
    TFramePtr input = GreyPicture(640, 360, 128, 128);
    queue->Push(input.get());
    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->data[0][0], 0);
}

// ---- Frames -----------------------------------------------------------------------------------

// Whether every pixel of the rows [from, to) of a BGR(A) picture is grey,
// all three channels within `low`..`high`.
::testing::AssertionResult RowsAreGrey(const AVFrame* frame, int from, int to, int low,
                                       int high) {
    const int bytes = frame->format == AV_PIX_FMT_BGRA ? 4 : 3;
    for (int y = from; y < to; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int value = row[x * bytes + c];
                if (value < low || value > high) {
                    return ::testing::AssertionFailure()
                           << "pixel " << x << ", " << y << " channel " << c << " is " << value
                           << ", not within " << low << ".." << high;
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The grey a neutral luma becomes: the matting tables take luma for the
// colour level as it is, a limited-range conversion stretches it; either is
// a working chain.
struct TGrey {
    int low;
    int high;
};
constexpr TGrey GreyOf(int luma) {
    const int stretched = (luma - 16) * 255 / 219;
    return {(luma < stretched ? luma : stretched) - 6, (luma > stretched ? luma : stretched) + 6};
}
constexpr TGrey kDark = GreyOf(60);
constexpr TGrey kBright = GreyOf(200);

TEST_F(DzOqcChainTest, ModeTenPictureIsScaledComposedAndTurned) {
    ASSERT_TRUE(PlaceModules());
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeScaleDown | kModeRotate, 1920, 1080,
                                          AV_PIX_FMT_YUYV422, 720, 1280, 28);
    queue->Configure(m_canvas.data(), &config);
    TFramePtr input = GreyPicture(1920, 1080, 60, 200);
    input->pts = 77;
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->width, 720);
    EXPECT_EQ(output->height, 1280);
    EXPECT_EQ(output->format, AV_PIX_FMT_BGRA);
    EXPECT_EQ(output->linesize[0], 720 * 4);
    EXPECT_EQ(output->pts, 77);
    // A quarter turn makes the upright picture's left half the top or the
    // bottom half; which one is the rotation's business.
    const bool darkOnTop = output->data[0][0] < 128;
    const TGrey top = darkOnTop ? kDark : kBright;
    const TGrey bottom = darkOnTop ? kBright : kDark;
    EXPECT_TRUE(RowsAreGrey(output, 0, 600, top.low, top.high));
    EXPECT_TRUE(RowsAreGrey(output, 680, 1280, bottom.low, bottom.high));
}

TEST_F(DzOqcChainTest, PaddedYuyvInputIsPackedForTheCompositor) {
    ASSERT_TRUE(PlaceModules());
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 1000, 200, AV_PIX_FMT_YUYV422, 1000, 200, 3);
    queue->Configure(m_canvas.data(), &config);
    TFramePtr input = GreyPicture(1000, 200, 200, 200, 64);
    ASSERT_GT(input->linesize[0], 1000 * 2);
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->format, AV_PIX_FMT_BGR24);
    EXPECT_TRUE(RowsAreGrey(output, 0, 200, kBright.low, kBright.high));
}

TEST_F(DzOqcChainTest, YuyvOutputCarriesTheComposedPictureInYuyv) {
    ASSERT_TRUE(PlaceModules());
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeScaleUp, 640, 360, AV_PIX_FMT_YUYV422, 1280, 720, 1);
    queue->Configure(m_canvas.data(), &config);
    TFramePtr input = GreyPicture(640, 360, 200, 200);
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->format, AV_PIX_FMT_YUYV422);
    EXPECT_EQ(output->width, 1280);
    EXPECT_EQ(output->linesize[0], 1280 * 2);
    for (int y = 0; y < 720; y += 7) {
        const uint8_t* row = output->data[0] + y * output->linesize[0];
        for (int x = 0; x < 1280 * 2; x += 2) {
            // Luma of the grey as composed, back in limited range or not.
            ASSERT_GE(row[x], 188 - 6) << x << ", " << y;
            ASSERT_LE(row[x], 214 + 6) << x << ", " << y;
            ASSERT_NEAR(row[x + 1], 128, 6) << x << ", " << y;  // chroma
        }
    }
}

TEST_F(DzOqcChainTest, WithoutTheModulesTheirStagesDeliverBlackNotGarbage) {
    RemoveModules();
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeScaleUp, 640, 360, AV_PIX_FMT_YUYV422, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &config);
    TFramePtr input = GreyPicture(640, 360, 200, 200);
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->width, 1280);
    EXPECT_TRUE(RowsAreGrey(output, 0, 720, 0, 0));  // black
}

TEST_F(DzOqcChainTest, AFrameOfAnotherSizeThanConfiguredComesOutBlack) {
    PlaceModules();
    auto queue = MakeQueue();
    const TPipelineConfig config = Config(kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 3);
    queue->Configure(m_canvas.data(), &config);
    // A stream that changed its size mid-way: read as 1280 x 720 it would
    // be read far past its end.
    TFramePtr input = GreyPicture(320, 240, 200, 200);
    input->pkt_size = 5;
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->width, 1280);
    EXPECT_EQ(output->height, 720);
    EXPECT_EQ(output->pkt_size, 5);
    EXPECT_TRUE(RowsAreGrey(output, 0, 720, 0, 0));  // black
}

TEST_F(DzOqcChainTest, AChainThatCannotReachTheOutputSizeDeliversBlackFrames) {
    PlaceModules();
    auto queue = MakeQueue();
    // No scaling asked for, yet the input is smaller than the output.
    const TPipelineConfig config = Config(0, 640, 360, AV_PIX_FMT_YUYV422, 1280, 720, 28);
    queue->Configure(m_canvas.data(), &config);
    EXPECT_FALSE(queue->ChainUsable());
    TFramePtr input = GreyPicture(640, 360, 200, 200);
    queue->Push(input.get());

    AVFrame* output = m_first.Wait();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->width, 1280);
    EXPECT_EQ(output->height, 720);
    EXPECT_TRUE(RowsAreGrey(output, 0, 720, 0, 0));  // black
}

}  // namespace
}  // namespace pelorn
