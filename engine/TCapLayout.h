#pragma once

#include <algorithm>
#include <cstdint>

#include "common/Saturate.h"

// The layout template that the console hands to the engine. All positions are
// in the reference size MaxWidth x MaxHeight.

struct TCapPoint {
    int32_t x;
    int32_t y;
};

struct TCapLayer {
    enum : int16_t { kUnused = -1, kFrameOverlay = 0, kPresenter = 1 };
    enum : int32_t { kFlagEnabled = 1, kFlagDrawFrame = 4 };

    int16_t Id;          // what the layer shows; kUnused for an unused entry
    int32_t Flag;        // kFlagEnabled, kFlagDrawFrame
    int16_t BrdAdjust;   // border adjustment, 1 by default
    TCapPoint Position[4];  // corners; [0] is left-top, [2] right-bottom
};

struct TCapLayout {
    static constexpr int kMaxLayers = 10;

    char16_t Name[10];  // UTF-16, the template's name
    int32_t LayerCnt;   // layers used, at most kMaxLayers
    int32_t BuildIn;    // 1 for a built-in template
    TCapLayer layers[kMaxLayers];
    int32_t MaxWidth;
    int32_t MaxHeight;
};

// Maps the used layers' corners onto a width x height canvas and makes that the
// layout's reference size. The current reference size must be at least 2 x 2.
inline void RescaleLayout(TCapLayout* layout, int32_t width, int32_t height) {
    const int used = std::clamp<int>(layout->LayerCnt, 0, TCapLayout::kMaxLayers);
    for (int i = 0; i < used; ++i) {
        for (TCapPoint& point : layout->layers[i].Position) {
            point.x = common::RescaleCoordinate(point.x, layout->MaxWidth, width);
            point.y = common::RescaleCoordinate(point.y, layout->MaxHeight, height);
        }
    }
    layout->MaxWidth = width;
    layout->MaxHeight = height;
}
