#include "engine/compositor/TDebugOverlay.h"

#include <algorithm>
#include <cstring>

#include "engine/compositor/KernelIds.h"

namespace pelorn {

void TDebugOverlay::Draw(TCompositorPool& pool, uint8_t* picture, const uint8_t* mask, int width,
                         int height, const kernels::TRect* subject) {
    pool.Dispatch(kKernelDebugOutline, kernels::TOutlineArgs{picture, mask, width, height});
    if (subject != nullptr && !subject->IsEmpty())
        DrawRect(picture, width, height, *subject);
}

void TDebugOverlay::DrawRect(uint8_t* picture, int width, int height, const kernels::TRect& rect) {
    auto put = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        std::memcpy(picture + (static_cast<size_t>(y) * width + x) * 3,
                    kernels::kSubjectColour.data(), 3);
    };
    const int left = std::max(rect.left, -kRectThickness);
    const int right = std::min(rect.right, width + kRectThickness);
    const int top = std::max(rect.top, -kRectThickness);
    const int bottom = std::min(rect.bottom, height + kRectThickness);
    for (int t = 0; t < kRectThickness; ++t) {
        for (int x = left; x <= right; ++x) {
            put(x, rect.top + t);
            put(x, rect.bottom - t);
        }
        for (int y = top; y <= bottom; ++y) {
            put(rect.left + t, y);
            put(rect.right - t, y);
        }
    }
}

}  // namespace pelorn
