#include "tools/play/PlayLayouts.h"


namespace pelorn::play {
namespace {

constexpr int kCanvasWidth = 1920;
constexpr int kCanvasHeight = 1080;

void SetName(TCapLayout& layout, const char16_t* name) {
    for (int i = 0; i < 9 && name[i] != u'\0'; ++i) layout.Name[i] = name[i];
}

// Corners in the order top-left, top-right, bottom-right, bottom-left.
void SetLayer(TCapLayer& layer, int16_t id, int32_t flag, int left, int top, int right,
              int bottom) {
    layer.Id = id;
    layer.Flag = flag;
    layer.BrdAdjust = 0;
    layer.Position[0] = {left, top};
    layer.Position[1] = {right, top};
    layer.Position[2] = {right, bottom};
    layer.Position[3] = {left, bottom};
}

TCapLayout EmptyLayout() {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.MaxWidth = kCanvasWidth;
    layout.MaxHeight = kCanvasHeight;
    layout.LayerCnt = 2;
    return layout;
}

}  // namespace

TCapLayout BuiltInLayout(TLayoutChoice choice) {
    constexpr int w = kCanvasWidth;
    constexpr int h = kCanvasHeight;
    TCapLayout layout = EmptyLayout();
    switch (choice) {
        case TLayoutChoice::kFullScreen:
            SetName(layout, u"全屏");
            layout.BuildIn = 1;
            for (int16_t i = 0; i < 2; ++i) SetLayer(layout.layers[i], i, 1, 0, 0, w - 1, h - 1);
            break;
        case TLayoutChoice::kDual:
            SetName(layout, u"双视窗");
            layout.BuildIn = 1;
            for (int16_t i = 0; i < 2; ++i) {
                const int left = i * w / 2;
                SetLayer(layout.layers[i], i, i == 0 ? 5 : 1, left, h / 4, left + w / 2 - 1,
                         h / 4 + h / 2 - 1);
            }
            break;
        case TLayoutChoice::kCustom:
            SetName(layout, u"自定义3");
            layout.BuildIn = 0;
            SetLayer(layout.layers[0], 0, 7, 100, 100, 100 + w / 2, 100 + h / 2);
            SetLayer(layout.layers[1], 1, 3, 300, 300, 1260, 840);
            break;
    }
    return layout;
}

}  // namespace pelorn::play
