#include "tools/vcam/TPictureLayout.h"

#include "modules/ModuleAbi.h"
#include "modules/gxrl/PixLayout.h"

namespace pelorn::vcam {
int32_t ModuleCodeOf(int format) {
    switch (format) {
        case kAvYuv420p: return kPixCodeYuv420p;
        case kAvYuyv422: return kPixCodeYuyv422;
        case kAvRgb24:
        case kAvBgr24: return kPixCodeBgr24;
        case kAvNv12: return kPixCodeNv12;
        case kAvBgra: return kPixCodeBgra;
        default: return 0;
    }
}

TPictureLayout LayoutOf(int format, int width, int height, size_t lineBytes) {
    TPictureLayout layout;
    const int32_t code = ModuleCodeOf(format);
    if (code == 0 || !gxrl::IsValidSize(width, height)) return layout;
    const gxrl::TPixLayout shape = gxrl::LayoutOf(code, width, height);
    layout.planeCount = shape.planeCount;
    for (int plane = 0; plane < shape.planeCount; ++plane) {
        layout.rowBytes[plane] = static_cast<size_t>(shape.planes[plane].rowBytes);
        layout.rows[plane] = shape.planes[plane].rows;
        size_t stride = layout.rowBytes[plane];
        if (lineBytes != 0) stride = format == kAvYuv420p && plane > 0 ? lineBytes / 2 : lineBytes;
        layout.stride[plane] = stride;
        layout.offset[plane] = layout.bytes;
        layout.bytes += stride * static_cast<size_t>(layout.rows[plane]);
    }
    return layout;
}

void PlanePointers(const TPictureLayout& layout, uint8_t* base, uint8_t* planes[kMaxPlanes],
                   int32_t linesizes[kMaxPlanes]) {
    for (int plane = 0; plane < kMaxPlanes; ++plane) {
        const bool present = plane < layout.planeCount;
        planes[plane] = present ? base + layout.offset[plane] : nullptr;
        linesizes[plane] = present ? static_cast<int32_t>(layout.stride[plane]) : 0;
    }
}

}  // namespace pelorn::vcam
