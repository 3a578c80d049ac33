// The console's thread changes parameters, layout and flags while the output
// worker composes: the controls' lock keeps every frame consistent.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/ParamTable.h"
#include "engine/compositor/TCompositor.h"
#include "tests/engine/compositor/CompositorTestSupport.h"

namespace pelorn {
namespace {

using testing_support::MakeScene;
using testing_support::PresenterLayout;

TEST(ComposeConcurrencyTest, ControlsChangeWhileFramesAreComposed) {
    ASSERT_TRUE(testing_support::EnsureConverterModule());
    constexpr int kWidth = 64;
    constexpr int kHeight = 36;
    const auto scene = MakeScene(kWidth, kHeight);
    TCompositor compositor;
    compositor.SetFormats(1, 3);
    ASSERT_EQ(compositor.SetUp(kWidth, kHeight), TCompositor::kOk);
    compositor.Controls().SetLayout(testing_support::FullScreenLayout(kWidth, kHeight));
    compositor.Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground);

    std::atomic<bool> done{false};
    std::atomic<int> frames{0};
    std::atomic<int> composed{0};
    std::thread worker([&] {
        std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3);
        while (!done) {
            const int result =
                compositor.Compose(out.data(), scene.yuyv.data(), scene.canvas.data());
            // The time budget may run out under the thread sanitizer on a
            // busy machine (the rebuild below is slow there): that frame is
            // given up, never inconsistent.
            EXPECT_TRUE(result == TCompositor::kOk || result == TCompositor::kOverBudget) << result;
            if (result == TCompositor::kOk) ++composed;
            ++frames;
        }
    });
    for (int i = 0; i < 12; ++i) {
        compositor.Controls().SetValue(kParamSmoothing, i % 3);
        compositor.Controls().SetValue(kParamTint, i);
        compositor.Controls().SetLayout(
            PresenterLayout(kWidth, kHeight, i, 0, kWidth - 1 - i, kHeight - 1));
        compositor.Controls().SetProcessFlags(i % 2 ? TCompositor::kFlagCanvasBackground
                                                    : TCompositor::kFlagWhiteBackground);
        EXPECT_EQ(compositor.Controls().GetValue(kParamTint), i);
        std::this_thread::yield();
    }
    compositor.Controls().SetValue(kParamMatting, 40);  // one decision-data rebuild on the way
    while (composed < 20) std::this_thread::yield();
    done = true;
    worker.join();
    EXPECT_GE(compositor.DecisionRebuilds(), 1);
}

}  // namespace
}  // namespace pelorn
