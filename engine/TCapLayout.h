#pragma once

#include <cstdint>

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
