#pragma once

#include <cstdint>

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TCompositorPool.h"

namespace pelorn {

// The debug overlay drawn over the composed picture: the outline of the
// placed mask (magenta, where subject meets backdrop) and the tracked subject
// rectangle (yellow, two pixels wide).
class TDebugOverlay {
public:
    static constexpr int kRectThickness = 2;

    static void Draw(TCompositorPool& pool, uint8_t* picture, const uint8_t* mask, int width,
                     int height, const kernels::TRect* subject);
    // The rectangle's border, clipped to the picture.
    static void DrawRect(uint8_t* picture, int width, int height, const kernels::TRect& rect);
};

}  // namespace pelorn
