#include "modules/gxrl/PixLayout.h"

#include "modules/ModuleAbi.h"

namespace gxrl {

bool IsKnownCode(int32_t code) {
    switch (code) {
        case kPixCodeBgr24:
        case kPixCodeBgra:
        case kPixCodeYuyv422:
        case kPixCodeUyvy422:
        case kPixCodeGray8:
        case kPixCodeYuv420p:
        case kPixCodeYuvj422p:
        case kPixCodeNv12:
            return true;
        default:
            return false;
    }
}

bool IsValidSize(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

TPixLayout LayoutOf(int32_t code, int32_t width, int32_t height) {
    const int32_t chromaWidth = HalfUp(width);
    switch (code) {
        case kPixCodeBgr24:
            return {1, {{width * 3, height}}};
        case kPixCodeBgra:
            return {1, {{width * 4, height}}};
        case kPixCodeYuyv422:
        case kPixCodeUyvy422:
            return {1, {{chromaWidth * 4, height}}};
        case kPixCodeGray8:
            return {1, {{width, height}}};
        case kPixCodeYuv420p:
            return {
                3, {{width, height}, {chromaWidth, HalfUp(height)}, {chromaWidth, HalfUp(height)}}};
        case kPixCodeYuvj422p:
            return {3, {{width, height}, {chromaWidth, height}, {chromaWidth, height}}};
        case kPixCodeNv12:
            return {2, {{width, height}, {chromaWidth * 2, HalfUp(height)}}};
        default:
            return {};
    }
}

}  // namespace gxrl
