#include "engine/TMattControls.h"

#include <gtest/gtest.h>

namespace pelorn {
namespace {

TCapLayout FullScreenLayout() {
    TCapLayout layout{};
    layout.LayerCnt = 1;
    layout.MaxWidth = 1920;
    layout.MaxHeight = 1080;
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.layers[0] = {TCapLayer::kPresenter, TCapLayer::kFlagEnabled, 1,
                        {{0, 0}, {1919, 0}, {1919, 1079}, {0, 1079}}};
    return layout;
}

TEST(TMattControlsTest, LayoutIsRescaledFromItsReferenceSizeToTheWorkingSize) {
    TMattControls controls;
    controls.SetWorkingSize(1280, 720);
    TCapLayout layout = FullScreenLayout();
    layout.layers[0].Position[1] = {960, 540};
    controls.SetLayout(layout);
    const TCapLayout& kept = controls.LayoutLocked();
    EXPECT_EQ(kept.layers[0].Position[2].x, 1279);
    EXPECT_EQ(kept.layers[0].Position[2].y, 719);
    EXPECT_EQ(kept.layers[0].Position[1].x, 640);
    EXPECT_EQ(kept.layers[0].Position[1].y, 360);
    EXPECT_EQ(kept.MaxWidth, 1280);
    EXPECT_EQ(kept.MaxHeight, 720);
}

TEST(TMattControlsTest, EmptyLayoutIsIgnoredAndThePreviousOneStays) {
    TMattControls controls;
    controls.SetLayout(FullScreenLayout());
    TCapLayout empty = FullScreenLayout();
    empty.LayerCnt = 0;
    empty.layers[0].Position[2].x = 5;
    controls.SetLayout(empty);
    EXPECT_EQ(controls.LayoutLocked().LayerCnt, 1);
    EXPECT_EQ(controls.LayoutLocked().layers[0].Position[2].x, 1919);
}

TEST(TMattControlsTest, LayerWithAnEmptyRectangleIsDisabled) {
    TMattControls controls;
    TCapLayout layout = FullScreenLayout();
    layout.LayerCnt = 2;
    layout.layers[1] = {TCapLayer::kFrameOverlay, TCapLayer::kFlagEnabled | TCapLayer::kFlagDrawFrame,
                        1, {{100, 100}, {200, 100}, {100, 300}, {100, 300}}};
    controls.SetLayout(layout);
    EXPECT_EQ(controls.LayoutLocked().layers[0].Flag & TCapLayer::kFlagEnabled, 1);
    EXPECT_EQ(controls.LayoutLocked().layers[1].Flag, TCapLayer::kFlagDrawFrame);
}

TEST(TMattControlsTest, LayerCountAboveTenIsCutToTen) {
    TMattControls controls;
    TCapLayout layout = FullScreenLayout();
    layout.LayerCnt = 1000;
    controls.SetLayout(layout);
    EXPECT_EQ(controls.LayoutLocked().LayerCnt, TCapLayout::kMaxLayers);
}

TEST(TMattControlsTest, NewWorkingSizeClearsTheLayout) {
    TMattControls controls;
    controls.SetWorkingSize(1920, 1080);
    controls.SetLayout(FullScreenLayout());
    controls.SetWorkingSize(1920, 1080);
    EXPECT_EQ(controls.LayoutLocked().LayerCnt, 1);
    controls.SetWorkingSize(1280, 720);
    EXPECT_EQ(controls.LayoutLocked().LayerCnt, 0);
}

}  // namespace
}  // namespace pelorn
