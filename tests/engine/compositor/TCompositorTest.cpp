#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/ParamTable.h"
#include "engine/compositor/ColourMath.h"
#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TCompositor.h"
#include "engine/compositor/TFrameOverlay.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "platform/PerfCounter.h"
#include "tests/engine/compositor/CompositorTestSupport.h"
#include "tools/compose-still/StillImage.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using testing_support::FullScreenLayout;
using testing_support::MakeScene;
using testing_support::PresenterLayout;
using testing_support::TScene;

constexpr int kWidth = 192;
constexpr int kHeight = 108;
constexpr int kFormatYuyv = 1;
constexpr int kFormatBgr24 = 3;
constexpr int kFormatYuvj422p = 13;
constexpr int kFormatUyvy = 15;
constexpr int kFormatBgra = 28;

const uint8_t* PixelOf(const std::vector<uint8_t>& picture, int width, int x, int y,
                       int bytes = 3) {
    return picture.data() + (static_cast<size_t>(y) * width + x) * bytes;
}

class TCompositorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_scene = std::make_unique<TScene>(MakeScene(kWidth, kHeight)); }
    static void TearDownTestSuite() { s_scene.reset(); }

    void SetUp() override { ASSERT_TRUE(testing_support::EnsureConverterModule()); }

    std::unique_ptr<TCompositor> Make(int outFormat = kFormatBgr24, int inFormat = kFormatYuyv,
                                      TCompositorPaths paths = {}, int width = kWidth,
                                      int height = kHeight) {
        EXPECT_TRUE(testing_support::EnsureConverterModule());
        auto compositor = std::make_unique<TCompositor>(paths);
        compositor->SetFormats(inFormat, outFormat);
        EXPECT_EQ(compositor->SetUp(width, height), TCompositor::kOk);
        compositor->Controls().SetLayout(FullScreenLayout(width, height));
        compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground);
        return compositor;
    }

    std::vector<uint8_t> Compose(TCompositor& compositor, const uint8_t* source = nullptr,
                                 const uint8_t* canvas = nullptr, int* result = nullptr) {
        const int bytes = compositor.OutFormat() == kFormatBgra ? 4 : 3;
        std::vector<uint8_t> out(
            static_cast<size_t>(compositor.Width()) * compositor.Height() * bytes, 0x77);
        const int code = compositor.Compose(out.data(), source ? source : s_scene->yuyv.data(),
                                            canvas ? canvas : s_scene->canvas.data());
        if (result != nullptr) {
            *result = code;
        } else {
            EXPECT_EQ(code, TCompositor::kOk);
        }
        return out;
    }

    // Backdrop pixels far from the figure and its shadow, and pixels well
    // inside the figure.
    static bool IsClearBackdrop(int x, int y) {
        return IsUniform(x, y, 0) && s_scene->shadow[At(x, y)] == 0;
    }
    static bool IsInsideFigure(int x, int y) { return IsUniform(x, y, 255); }
    static size_t At(int x, int y) { return static_cast<size_t>(y) * kWidth + x; }
    static bool IsUniform(int x, int y, uint8_t coverage) {
        for (int dy = -3; dy <= 3; ++dy) {
            for (int dx = -3; dx <= 3; ++dx) {
                const int cx = std::clamp(x + dx, 0, kWidth - 1);
                const int cy = std::clamp(y + dy, 0, kHeight - 1);
                if (s_scene->coverage[At(cx, cy)] != coverage)
                    return false;
            }
        }
        return true;
    }

    // The keyer's colour of the scene's own YUYV sample.
    static colour::TBgr SampleAt(int x, int y) {
        const uint8_t* pair =
            s_scene->yuyv.data() + static_cast<size_t>(y) * (kWidth / 2) * 4 + (x / 2) * 4;
        return colour::SampleColour(pair[1], pair[3], pair[(x % 2) * 2]);
    }

    static std::unique_ptr<TScene> s_scene;
};
std::unique_ptr<TScene> TCompositorTest::s_scene;

TEST_F(TCompositorTest, NotSetUpOrMissingArgumentLeavesTheDestinationUntouched) {
    TCompositor compositor;
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3, 0x42);
    EXPECT_EQ(compositor.Compose(out.data(), s_scene->yuyv.data(), s_scene->canvas.data()),
              TCompositor::kNotReady);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x42), static_cast<long>(out.size()));

    auto ready = Make();
    EXPECT_EQ(ready->Compose(out.data(), nullptr, s_scene->canvas.data()), TCompositor::kNotReady);
    EXPECT_EQ(ready->Compose(out.data(), s_scene->yuyv.data(), nullptr), TCompositor::kNotReady);
    EXPECT_EQ(ready->Compose(nullptr, s_scene->yuyv.data(), s_scene->canvas.data()),
              TCompositor::kNotReady);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x42), static_cast<long>(out.size()));
}

TEST_F(TCompositorTest, PresenterOnGreenShowsTheCanvasWhereTheBackdropWas) {
    auto compositor = Make();
    const std::vector<uint8_t> out = Compose(*compositor);
    int backdrop = 0;
    int figure = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* pixel = PixelOf(out, kWidth, x, y);
            if (IsClearBackdrop(x, y)) {
                ++backdrop;
                const uint8_t* canvas = PixelOf(s_scene->canvas, kWidth, x, y, 4);
                ASSERT_EQ(std::memcmp(pixel, canvas, 3), 0) << x << "," << y;
            } else if (IsInsideFigure(x, y)) {
                ++figure;
                const colour::TBgr sample = SampleAt(x, y);
                ASSERT_EQ(pixel[0], sample.b) << x << "," << y;
                ASSERT_EQ(pixel[1], sample.g) << x << "," << y;
                ASSERT_EQ(pixel[2], sample.r) << x << "," << y;
                const uint8_t* scene = PixelOf(s_scene->bgr, kWidth, x, y);
                ASSERT_NEAR(pixel[1], scene[1], 16) << x << "," << y;
            }
        }
    }
    EXPECT_GT(backdrop, kWidth * kHeight / 4);
    EXPECT_GT(figure, kWidth * kHeight / 10);
    EXPECT_EQ(compositor->Mask()[At(2, 2)], 0);
    EXPECT_EQ(compositor->Mask()[At(kWidth / 2, kHeight - 5)], 255);
}

TEST_F(TCompositorTest, EveryInputFormatGivesTheSameComposition) {
    auto compositor = Make();
    const std::vector<uint8_t> expected = Compose(*compositor);
    for (int format : {kFormatUyvy, kFormatYuvj422p}) {
        std::vector<uint8_t> source(static_cast<size_t>(kWidth) * kHeight * 2);
        kernels::TConvertArgs convert{source.data(), s_scene->bgr.data(), kWidth, kHeight, format};
        for (int band = 0; band < 4; ++band) kernels::BgrToYuv(&convert, band);
        compositor->SetFormats(format, kFormatBgr24);
        ASSERT_EQ(compositor->SetUp(kWidth, kHeight), TCompositor::kOk);
        compositor->Controls().SetLayout(FullScreenLayout(kWidth, kHeight));
        EXPECT_EQ(Compose(*compositor, source.data()), expected) << "format " << format;
    }
    EXPECT_EQ(compositor->DecisionRebuilds(), 1);  // a new size or format keeps them
}

TEST_F(TCompositorTest, MattingOffMakesTheMaskOpaqueEverywhere) {
    auto compositor = Make();
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagMattingOff);
    const std::vector<uint8_t> out = Compose(*compositor);
    const uint8_t* mask = compositor->Mask();
    EXPECT_TRUE(std::all_of(mask, mask + kWidth * kHeight, [](uint8_t m) { return m == 255; }));
    for (int y = 0; y < kHeight; y += 7) {
        for (int x = 0; x < kWidth; x += 5) {
            const colour::TBgr sample = SampleAt(x, y);
            const uint8_t* pixel = PixelOf(out, kWidth, x, y);
            ASSERT_EQ(pixel[0], sample.b);
            ASSERT_EQ(pixel[1], sample.g);
            ASSERT_EQ(pixel[2], sample.r);
        }
    }
}

TEST_F(TCompositorTest, MaskPictureShowsTheMaskAsGrey) {
    auto compositor = Make();
    compositor->Controls().SetProcessFlags(TCompositor::kFlagMaskPicture);
    const std::vector<uint8_t> out = Compose(*compositor);
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
        const uint8_t grey = static_cast<uint8_t>(compositor->Mask()[i] * 235 / 255);
        ASSERT_EQ(out[i * 3], grey);
        ASSERT_EQ(out[i * 3 + 2], grey);
    }
    EXPECT_EQ(PixelOf(out, kWidth, kWidth / 2, kHeight - 3)[1], 235);
    EXPECT_EQ(PixelOf(out, kWidth, 1, 1)[1], 0);
}

TEST_F(TCompositorTest, PresenterOnlyShowsTheMattedPictureWithoutBackground) {
    auto compositor = Make();
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagPresenterOnly);
    const std::vector<uint8_t> out = Compose(*compositor);
    for (int y = 0; y < kHeight; y += 3) {
        for (int x = 0; x < kWidth; x += 3) {
            const colour::TBgr sample = SampleAt(x, y);
            const uint8_t* pixel = PixelOf(out, kWidth, x, y);
            ASSERT_EQ(pixel[1], sample.g) << x << "," << y;
        }
    }
}

TEST_F(TCompositorTest, BackgroundBuffersFollowTheirFlagsInOrder) {
    struct TCase {
        int32_t flags;
        uint8_t b, g, r;
    };
    auto compositor = Make();
    for (const TCase& c :
         {TCase{0, 0, 0, 0}, TCase{TCompositor::kFlagBlackBackground, 0, 0, 0},
          TCase{TCompositor::kFlagWhiteBackground, 255, 255, 255},
          TCase{TCompositor::kFlagBlueBackground, 255, 0, 0},
          TCase{TCompositor::kFlagBlueBackground | TCompositor::kFlagWhiteBackground, 255, 255,
                255}}) {
        compositor->Controls().SetProcessFlags(c.flags);
        const std::vector<uint8_t> out = Compose(*compositor);
        for (int x : {1, 20, kWidth - 2}) {
            const uint8_t* pixel = PixelOf(out, kWidth, x, 2);
            EXPECT_EQ(pixel[0], c.b) << "flags " << c.flags;
            EXPECT_EQ(pixel[1], c.g) << "flags " << c.flags;
            EXPECT_EQ(pixel[2], c.r) << "flags " << c.flags;
        }
    }
}

TEST_F(TCompositorTest, UnconvertedCanvasIsTakenAsBgr24) {
    auto compositor = Make();
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagCanvasUnconverted);
    std::vector<uint8_t> canvas(static_cast<size_t>(kWidth) * kHeight * 4);
    for (size_t i = 0; i < canvas.size(); ++i) canvas[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> out = Compose(*compositor, nullptr, canvas.data());
    EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, 3, 2), canvas.data() + At(3, 2) * 3, 3), 0);
}

TEST_F(TCompositorTest, BgraOutputCarriesTheSameColoursAndFullAlpha) {
    auto compositor = Make();
    const std::vector<uint8_t> three = Compose(*compositor);
    compositor->SetFormats(kFormatYuyv, kFormatBgra);
    ASSERT_EQ(compositor->SetUp(kWidth, kHeight), TCompositor::kOk);
    compositor->Controls().SetLayout(FullScreenLayout(kWidth, kHeight));
    const std::vector<uint8_t> four = Compose(*compositor);
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
        ASSERT_EQ(std::memcmp(three.data() + i * 3, four.data() + i * 4, 3), 0) << i;
        ASSERT_EQ(four[i * 4 + 3], 255);
    }
}

TEST_F(TCompositorTest, LevelZeroIsTheIdentityAndTheLevelStepIsSkipped) {
    auto compositor = Make();
    compositor->Controls().SetValue(kParamLevel, 0);
    const std::vector<uint8_t> out = Compose(*compositor);
    EXPECT_EQ(compositor->Tables()->Level(), 255);
    const uint8_t* table = compositor->Tables()->LevelTable();
    EXPECT_EQ(table[(size_t{10} * 65536 + 20 * 256 + 30) * 3 + 1], 20);
    const colour::TBgr sample = SampleAt(kWidth / 2, kHeight - 4);
    const uint8_t* pixel = PixelOf(out, kWidth, kWidth / 2, kHeight - 4);
    EXPECT_EQ(pixel[0], sample.b);
    EXPECT_EQ(pixel[1], sample.g);
    EXPECT_EQ(pixel[2], sample.r);
}

TEST_F(TCompositorTest, LevelIsAppliedOnceWithMattingOnAndOff) {
    uint8_t curve[256];
    colour::BuildLevelCurve(255 - 100, curve);
    const int x = kWidth / 2;
    const int y = kHeight - 4;
    const colour::TBgr sample = SampleAt(x, y);
    const auto expected = colour::LevelEntry(sample.b, sample.g, sample.r, curve);
    auto compositor = Make();
    compositor->Controls().SetValue(kParamLevel, 100);
    for (int32_t flags : std::initializer_list<int32_t>{
             TCompositor::kFlagCanvasBackground,
             TCompositor::kFlagCanvasBackground | TCompositor::kFlagMattingOff}) {
        compositor->Controls().SetProcessFlags(flags);
        const std::vector<uint8_t> out = Compose(*compositor);
        EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, x, y), expected.data(), 3), 0)
            << "flags " << flags;
    }
}

TEST_F(TCompositorTest, PresenterLayerPlacesTheMattedPictureInItsRectangle) {
    auto compositor = Make();
    // Left half, top to bottom: the presenter shrinks to half its width.
    compositor->Controls().SetLayout(
        PresenterLayout(kWidth, kHeight, 0, 0, kWidth / 2 - 1, kHeight - 1));
    const std::vector<uint8_t> out = Compose(*compositor);
    const uint8_t* mask = compositor->Mask();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = kWidth / 2; x < kWidth; ++x) {
            ASSERT_EQ(mask[At(x, y)], 0);
            ASSERT_EQ(std::memcmp(PixelOf(out, kWidth, x, y),
                                  PixelOf(s_scene->canvas, kWidth, x, y, 4), 3),
                      0);
        }
    }
    // The figure's bottom centre (x = 96) lands at x = 48.
    EXPECT_EQ(mask[At(kWidth / 4, kHeight - 4)], 255);
    EXPECT_EQ(mask[At(kWidth / 2 - 2, 2)], 0);
}

TEST_F(TCompositorTest, PresenterLayerWithoutItsEnabledBitHidesThePresenter) {
    auto compositor = Make();
    compositor->Controls().SetLayout(
        PresenterLayout(kWidth, kHeight, 0, 0, kWidth - 1, kHeight - 1, 0));
    const std::vector<uint8_t> out = Compose(*compositor);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(std::memcmp(PixelOf(out, kWidth, x, y),
                                  PixelOf(s_scene->canvas, kWidth, x, y, 4), 3),
                      0);
        }
    }
}

TEST_F(TCompositorTest, WithoutAPresenterLayerThePictureStaysFullFrame) {
    auto compositor = Make();
    TCapLayout layout = PresenterLayout(kWidth, kHeight, 10, 10, 50, 50);
    layout.layers[0].Id = 7;  // some other layer
    compositor->Controls().SetLayout(layout);
    const std::vector<uint8_t> out = Compose(*compositor);
    EXPECT_EQ(compositor->Mask()[At(kWidth / 2, kHeight - 4)], 255);
}

TEST_F(TCompositorTest, PresenterRectangleReachingOutOfTheFrameIsClipped) {
    auto compositor = Make();
    compositor->Controls().SetLayout(
        PresenterLayout(kWidth, kHeight, -40, -20, kWidth + 40, kHeight - 1));
    Compose(*compositor);
    EXPECT_EQ(compositor->Mask()[At(kWidth / 2, kHeight - 4)], 255);
}

TEST_F(TCompositorTest, LayoutIsRescaledAndCheckedAtTheWorkingSize) {
    auto compositor = Make(kFormatBgr24, kFormatYuyv, {}, 1280, 720);
    TCapLayout layout = PresenterLayout(1920, 1080, 0, 0, 1919, 1079);
    layout.layers[0].Position[1] = {960, 540};
    compositor->Controls().SetLayout(layout);
    {
        std::lock_guard guard(compositor->Controls().Lock());
        const TCapLayout& kept = compositor->Controls().LayoutLocked();
        EXPECT_EQ(kept.layers[0].Position[2].x, 1279);
        EXPECT_EQ(kept.layers[0].Position[1].x, 640);
        EXPECT_EQ(kept.MaxWidth, 1280);
    }
    TCapLayout empty = layout;
    empty.LayerCnt = 0;
    compositor->Controls().SetLayout(empty);
    EXPECT_EQ(compositor->Controls().LayoutLocked().LayerCnt, 1);

    TCapLayout flat = PresenterLayout(1920, 1080, 100, 0, 100, 1079);
    compositor->Controls().SetLayout(flat);
    EXPECT_EQ(compositor->Controls().LayoutLocked().layers[0].Flag & TCapLayer::kFlagEnabled, 0);
}

TEST_F(TCompositorTest, DecisionDataAreRebuiltOnlyWhenTheirParametersChange) {
    auto compositor = Make();
    Compose(*compositor);
    EXPECT_EQ(compositor->DecisionRebuilds(), 1);
    Compose(*compositor);
    EXPECT_EQ(compositor->DecisionRebuilds(), 1);
    compositor->Controls().SetValue(kParamTint, 30);
    compositor->Controls().SetValue(kParamAlgorithm, 2);
    compositor->Controls().SetValue(kParamBlackEdge, 9);
    Compose(*compositor);
    EXPECT_EQ(compositor->DecisionRebuilds(), 1);
    for (int index : {kParamMatting, kParamReinforce, kParamLevel, kParamShadow, kParamSpot}) {
        const int before = compositor->DecisionRebuilds();
        compositor->Controls().SetValue(index, 5);
        Compose(*compositor);
        EXPECT_EQ(compositor->DecisionRebuilds(), before + 1) << "parameter " << index;
    }
    // Out of range: clamped to the value already in use, no rebuild.
    compositor->Controls().SetValue(kParamReinforce, 64);
    Compose(*compositor);
    const int settled = compositor->DecisionRebuilds();
    compositor->Controls().SetValue(kParamReinforce, 1000);
    Compose(*compositor);
    EXPECT_EQ(compositor->DecisionRebuilds(), settled);
}

TEST_F(TCompositorTest, ShadowRemovalTakesTheShadowAway) {
    auto compositor = Make();
    Compose(*compositor);
    auto shadowOpacity = [&] {
        long sum = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (s_scene->shadow[At(x, y)] > 60 && IsUniform(x, y, 0))
                    sum += compositor->Mask()[At(x, y)];
            }
        }
        return sum;
    };
    const long before = shadowOpacity();
    compositor->Controls().SetValue(kParamShadow, 255);
    Compose(*compositor);
    const long after = shadowOpacity();
    EXPECT_LE(after, before);
    EXPECT_EQ(after, 0);
}

TEST_F(TCompositorTest, TrackerFollowsTheSubjectAndIsResetBySetUpAndTheAlgorithmMode) {
    auto compositor = Make();
    Compose(*compositor);
    ASSERT_TRUE(compositor->Tracker().HasSubject());
    const kernels::TRect subject = compositor->Tracker().Subject();
    int left = kWidth, right = -1, top = kHeight, bottom = -1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (s_scene->coverage[At(x, y)] < 128)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    EXPECT_NEAR(subject.left, left, 2);
    EXPECT_NEAR(subject.right, right, 2);
    EXPECT_NEAR(subject.top, top, 2);
    EXPECT_EQ(subject.bottom, kHeight - 1);
    Compose(*compositor);
    EXPECT_EQ(compositor->Tracker().TrackedFrames(), 2);
    // A rebuild of the decision data starts tracking afresh.
    compositor->Controls().SetValue(kParamMatting, 3);
    Compose(*compositor);
    EXPECT_EQ(compositor->Tracker().TrackedFrames(), 1);

    // Matting off does not track: what the reset left stays visible.
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagMattingOff);
    compositor->Controls().SetValue(kParamAlgorithm, 2);
    Compose(*compositor);
    EXPECT_FALSE(compositor->Tracker().HasSubject());
    EXPECT_EQ(compositor->Tracker().Subject().left, -1);

    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground);
    Compose(*compositor);
    ASSERT_TRUE(compositor->Tracker().HasSubject());
    ASSERT_EQ(compositor->SetUp(kWidth, kHeight), TCompositor::kOk);
    EXPECT_FALSE(compositor->Tracker().HasSubject());
}

TEST_F(TCompositorTest, DebugOverlayDrawsTheOutlineAndTheSubjectRectangle) {
    auto compositor = Make();
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagDebugOverlay);
    const std::vector<uint8_t> out = Compose(*compositor);
    long outline = 0;
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
        if (std::memcmp(out.data() + i * 3, kernels::kOutlineColour.data(), 3) == 0)
            ++outline;
    }
    EXPECT_GT(outline, 50);
    const kernels::TRect subject = compositor->Tracker().Subject();
    EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, subject.left, (subject.top + subject.bottom) / 2),
                          kernels::kSubjectColour.data(), 3),
              0);
    EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, (subject.left + subject.right) / 2, subject.top),
                          kernels::kSubjectColour.data(), 3),
              0);
}

TEST_F(TCompositorTest, DebugSwitchForcesTheMaskPictureAndTheOverlay) {
    auto compositor = Make();
    compositor->SetDebugSwitch(true);
    const std::vector<uint8_t> out = Compose(*compositor);
    EXPECT_EQ(PixelOf(out, kWidth, 1, 1)[0], 0);
    EXPECT_EQ(PixelOf(out, kWidth, kWidth / 2, kHeight - 3)[1], 235);
}

TEST_F(TCompositorTest, DebugModeTintsOnlyTheSoftEdge) {
    auto compositor = Make();
    const std::vector<uint8_t> expected = Compose(*compositor);
    compositor->Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground |
                                           TCompositor::kFlagDebugMode);
    const std::vector<uint8_t> out = Compose(*compositor);
    long changed = 0;
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
        const uint8_t m = compositor->Mask()[i];
        const bool same = std::memcmp(out.data() + i * 3, expected.data() + i * 3, 3) == 0;
        if (m == 0 || m == 255) {
            ASSERT_TRUE(same) << i;
        }
        if (!same)
            ++changed;
    }
    EXPECT_GT(changed, 0);
}

// The clock moves by a fixed step on every reading.
std::atomic<int64_t> g_clockNs{0};
std::atomic<int64_t> g_stepNs{0};
int64_t SteppingClock() {
    return g_clockNs.fetch_add(g_stepNs.load()) + g_stepNs.load();
}

class TCompositorBudgetTest : public TCompositorTest {
protected:
    void TearDown() override { platform::PerfCounter::OverrideForTesting(nullptr); }
    void Step(int64_t ms) {
        g_stepNs = ms * 1'000'000;
        platform::PerfCounter::OverrideForTesting(&SteppingClock);
    }
};

TEST_F(TCompositorBudgetTest, BudgetSpentAfterMattingSkipsTheComposite) {
    auto compositor = Make();
    Step(2000);
    int result = -1;
    Compose(*compositor, nullptr, nullptr, &result);
    EXPECT_EQ(result, TCompositor::kOk);  // the rebuild frame has 8800 ms
    const std::vector<uint8_t> out = Compose(*compositor, nullptr, nullptr, &result);
    EXPECT_EQ(result, TCompositor::kOverBudget);
    // The matted picture itself, without the canvas behind it.
    const colour::TBgr sample = SampleAt(2, 2);
    EXPECT_EQ(PixelOf(out, kWidth, 2, 2)[1], sample.g);
    EXPECT_GE(compositor->LastComposeMs(), 3000);
}

TEST_F(TCompositorBudgetTest, BudgetSpentBeforeMattingDeliversTheWorkingPictureAsItWas) {
    auto compositor = Make();
    Step(9000);  // beyond even the rebuild frame's 8800 ms
    int result = -1;
    const std::vector<uint8_t> first = Compose(*compositor, nullptr, nullptr, &result);
    EXPECT_EQ(result, TCompositor::kOverBudget);
    // Nothing was composed yet: black, not uninitialised memory.
    EXPECT_EQ(std::count(first.begin(), first.end(), 0), static_cast<long>(first.size()));

    platform::PerfCounter::OverrideForTesting(nullptr);
    Compose(*compositor);
    Step(4000);
    const std::vector<uint8_t> out = Compose(*compositor, nullptr, nullptr, &result);
    EXPECT_EQ(result, TCompositor::kOverBudget);
    // The previous frame's matted picture, without the canvas behind it.
    EXPECT_EQ(PixelOf(out, kWidth, 2, 2)[1], SampleAt(2, 2).g);
}

TEST_F(TCompositorBudgetTest, BudgetSpentAfterTheCompositeKeepsTheComposition) {
    auto compositor = Make();
    Compose(*compositor);
    Step(1100);
    int result = -1;
    const std::vector<uint8_t> out = Compose(*compositor, nullptr, nullptr, &result);
    EXPECT_EQ(result, TCompositor::kOverBudget);
    EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, 2, 2), PixelOf(s_scene->canvas, kWidth, 2, 2, 4), 3),
              0);
}

TEST_F(TCompositorTest, OddSizesComposeEveryPixel) {
    auto compositor = Make();
    for (const auto& [width, height] : {std::pair{33, 17}, std::pair{1, 4}, std::pair{7, 3}}) {
        const TScene scene = MakeScene(width, height);
        for (int format : {kFormatBgr24, kFormatBgra}) {
            compositor->SetFormats(kFormatYuyv, format);
            ASSERT_EQ(compositor->SetUp(width, height), TCompositor::kOk);
            compositor->Controls().SetLayout(FullScreenLayout(width, height));
            std::vector<uint8_t> out(
                static_cast<size_t>(width) * height * (format == kFormatBgra ? 4 : 3) + 8, 0x77);
            EXPECT_EQ(compositor->Compose(out.data(), scene.yuyv.data(), scene.canvas.data()),
                      TCompositor::kOk);
            EXPECT_EQ(out[out.size() - 8], 0x77) << width << "x" << height;
            // The top-left corner is backdrop: the canvas shows.
            EXPECT_EQ(std::memcmp(out.data(), scene.canvas.data(), 3), 0) << width << "x" << height;
        }
    }
}

TEST_F(TCompositorTest, SizeBeyondTheWorkAreaFailsSetUp) {
    TCompositor compositor;
    EXPECT_EQ(compositor.SetUp(1921, 1081), TCompositor::kSetUpFailed);
    EXPECT_EQ(compositor.SetUp(0, 10), TCompositor::kSetUpFailed);
    EXPECT_FALSE(compositor.IsReady());
    EXPECT_EQ(compositor.SetUp(1080, 1920),
              TCompositor::kOk);  // a portrait picture of the same area
}

TEST_F(TCompositorTest, MissingConverterModuleEndsConstruction) {
    TCompositorPaths paths;
    paths.converterModule = "/nonexistent/Gxrl.dat";
    TCompositor compositor(paths);
    EXPECT_FALSE(compositor.IsConstructed());
    EXPECT_EQ(compositor.SetUp(kWidth, kHeight), TCompositor::kSetUpFailed);
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3);
    EXPECT_EQ(compositor.Compose(out.data(), s_scene->yuyv.data(), s_scene->canvas.data()),
              TCompositor::kNotReady);
}

TEST_F(TCompositorTest, TableFolderThatCannotBeWrittenEndsConstruction) {
    const fs::path blocked = fs::path(ModuleFolder()) / "not-a-folder";
    std::ofstream(blocked) << "x";
    TCompositorPaths paths;
    paths.tableFolder = blocked.string();
    TCompositor compositor(paths);
    EXPECT_FALSE(compositor.IsConstructed());
    EXPECT_EQ(compositor.SetUp(kWidth, kHeight), TCompositor::kSetUpFailed);
}

TEST_F(TCompositorTest, BeautyParametersCountAsZeroWithoutThePlugIn) {
    TCompositorPaths paths;
    paths.pluginModule = "/nonexistent/TBeautySkin.dat";
    auto plain = Make(kFormatBgr24, kFormatYuyv, paths);
    auto asked = Make(kFormatBgr24, kFormatYuyv, paths);
    for (int index : {kParamWhitening, kParamSmoothing, kParamTexture})
        asked->Controls().SetValue(index, 10);
    EXPECT_EQ(asked->Controls().GetValue(kParamSmoothing), 10);  // stored all the same
    EXPECT_EQ(Compose(*asked), Compose(*plain));
}

TEST_F(TCompositorTest, BeautyFilterWorksOnSkinOnly) {
    ModuleExtractor::ExtractInstalled();
    const std::string plugin = ModuleFolder() + "/" + IIMPlugIn::kFileName;
    if (!fs::exists(plugin))
        GTEST_SKIP() << "no image plug-in in the container";
    auto plain = Make();
    auto beauty = Make();
    beauty->Controls().SetValue(kParamSmoothing, 10);
    beauty->Controls().SetValue(kParamWhitening, 10);
    for (int32_t flags : std::initializer_list<int32_t>{
             TCompositor::kFlagCanvasBackground,
             TCompositor::kFlagCanvasBackground | TCompositor::kFlagMattingOff}) {
        plain->Controls().SetProcessFlags(flags);
        beauty->Controls().SetProcessFlags(flags);
        const std::vector<uint8_t> expected = Compose(*plain);
        const std::vector<uint8_t> out = Compose(*beauty);
        EXPECT_NE(out, expected);
        // The face changes; the backdrop (canvas or green) and the shirt do not.
        const int faceX = kWidth / 2;
        const int faceY = kHeight * 31 / 100;
        EXPECT_NE(std::memcmp(PixelOf(out, kWidth, faceX, faceY),
                              PixelOf(expected, kWidth, faceX, faceY), 3),
                  0);
        EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, 2, 2), PixelOf(expected, kWidth, 2, 2), 3), 0);
        const int shirtX = kWidth / 2;
        const int shirtY = kHeight * 85 / 100;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(PixelOf(out, kWidth, shirtX, shirtY)[c],
                        PixelOf(expected, kWidth, shirtX, shirtY)[c], 2);
        }
    }
}

class TCompositorOverlayTest : public TCompositorTest {
protected:
    void SetUp() override {
        TCompositorTest::SetUp();
        m_folder = fs::path(ModuleFolder()) / "images";
        fs::create_directories(m_folder);
        // A red frame 10 pixels wide, transparent inside; a blue base picture.
        std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4, 0);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* pixel = frame.data() + (static_cast<size_t>(y) * kWidth + x) * 4;
                const bool border = x < 10 || y < 10 || x >= kWidth - 10 || y >= kHeight - 10;
                pixel[2] = 255;
                pixel[3] = border ? 255 : 0;
            }
        }
        std::vector<uint8_t> base(static_cast<size_t>(kWidth) * kHeight * 3, 0);
        for (size_t i = 0; i < base.size(); i += 3) base[i] = 255;
        ASSERT_TRUE(tools::SavePicture((m_folder / TFrameOverlay::kFramePictureName).string(),
                                       frame.data(), tools::TPixelLayout::kBgra, kWidth, kHeight));
        ASSERT_TRUE(tools::SavePicture((m_folder / TFrameOverlay::kBasePictureName).string(),
                                       base.data(), tools::TPixelLayout::kBgr24, kWidth, kHeight));
    }

    std::unique_ptr<TCompositor> MakeWithOverlay(int32_t overlayFlag, int right) {
        TCompositorPaths paths;
        paths.imageFolder = m_folder.string();
        auto compositor = Make(kFormatBgr24, kFormatYuyv, paths);
        EXPECT_TRUE(compositor->HasFrameOverlay());
        TCapLayout layout = PresenterLayout(kWidth, kHeight, 0, 0, kWidth - 1, kHeight - 1, 0);
        layout.LayerCnt = 2;
        layout.layers[1] = {TCapLayer::kFrameOverlay,
                            overlayFlag,
                            0,
                            {{0, 0}, {right, 0}, {right, kHeight - 1}, {0, kHeight - 1}}};
        compositor->Controls().SetLayout(layout);
        return compositor;
    }

    // The canvas as scaled into the inner rectangle (here the same size).
    static void ExpectCanvasAt(const std::vector<uint8_t>& out, int x, int y) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(PixelOf(out, kWidth, x, y)[c], PixelOf(s_scene->canvas, kWidth, x, y, 4)[c],
                        2)
                << x << "," << y;
        }
    }

    fs::path m_folder;
};

TEST_F(TCompositorOverlayTest, FramePictureIsDrawnOverTheCanvasInTheLayersRectangle) {
    auto compositor =
        MakeWithOverlay(TCapLayer::kFlagEnabled | TCapLayer::kFlagDrawFrame, kWidth - 1);
    const std::vector<uint8_t> out = Compose(*compositor);
    const uint8_t* border = PixelOf(out, kWidth, 3, kHeight / 2);
    EXPECT_EQ(border[2], 255);
    EXPECT_EQ(border[0], 0);
    ExpectCanvasAt(out, kWidth / 2, kHeight / 2);
}

TEST_F(TCompositorOverlayTest, WithoutTheDrawBitOnlyTheBackgroundIsPlaced) {
    auto compositor = MakeWithOverlay(TCapLayer::kFlagEnabled, kWidth - 1);
    const std::vector<uint8_t> out = Compose(*compositor);
    ExpectCanvasAt(out, 3, kHeight / 2);
}

TEST_F(TCompositorOverlayTest, OutsideTheLayerTheBasePictureShows) {
    auto compositor =
        MakeWithOverlay(TCapLayer::kFlagEnabled | TCapLayer::kFlagDrawFrame, kWidth / 2 - 1);
    const std::vector<uint8_t> out = Compose(*compositor);
    const uint8_t* outside = PixelOf(out, kWidth, kWidth * 3 / 4, kHeight / 2);
    EXPECT_EQ(outside[0], 255);
    EXPECT_EQ(outside[1], 0);
    EXPECT_EQ(outside[2], 0);
    EXPECT_EQ(PixelOf(out, kWidth, 2, kHeight / 2)[2],
              255);  // the frame, scaled into the left half
}

TEST_F(TCompositorOverlayTest, DisabledFrameLayerLeavesTheCanvas) {
    auto compositor = MakeWithOverlay(TCapLayer::kFlagDrawFrame, kWidth - 1);
    const std::vector<uint8_t> out = Compose(*compositor);
    EXPECT_EQ(std::memcmp(PixelOf(out, kWidth, 3, kHeight / 2),
                          PixelOf(s_scene->canvas, kWidth, 3, kHeight / 2, 4), 3),
              0);
}

TEST_F(TCompositorOverlayTest, MissingFramePictureDisablesTheOverlay) {
    fs::remove(m_folder / TFrameOverlay::kFramePictureName);
    TCompositorPaths paths;
    paths.imageFolder = m_folder.string();
    auto compositor = Make(kFormatBgr24, kFormatYuyv, paths);
    EXPECT_FALSE(compositor->HasFrameOverlay());
}

}  // namespace
}  // namespace pelorn
