#include "modules/gxrl/TPixScaler.h"

namespace gxrl {

namespace {

// One plane of a format: its sample arrangement and how its size follows
// from the picture's (chroma halves a side).
struct TPlaneKind {
    TRowKind kind;
    bool halfWidth;
    bool halfHeight;
};

struct TFormatPlanes {
    int32_t code;
    int count;
    TPlaneKind planes[kMaxPlanes];
};

constexpr TFormatPlanes kFormatPlanes[] = {
    {kPixCodeBgr24, 1, {{TRowKind::kChannels3, false, false}}},
    {kPixCodeBgra, 1, {{TRowKind::kChannels4, false, false}}},
    {kPixCodeYuyv422, 1, {{TRowKind::kYuyv, false, false}}},
    {kPixCodeUyvy422, 1, {{TRowKind::kUyvy, false, false}}},
    {kPixCodeGray8, 1, {{TRowKind::kChannels1, false, false}}},
    {kPixCodeYuv420p,
     3,
     {{TRowKind::kChannels1, false, false},
      {TRowKind::kChannels1, true, true},
      {TRowKind::kChannels1, true, true}}},
    {kPixCodeYuvj422p,
     3,
     {{TRowKind::kChannels1, false, false},
      {TRowKind::kChannels1, true, false},
      {TRowKind::kChannels1, true, false}}},
    {kPixCodeNv12, 2, {{TRowKind::kChannels1, false, false}, {TRowKind::kChannels2, true, true}}},
};

const TFormatPlanes* FindFormatPlanes(int32_t code) {
    for (const TFormatPlanes& format : kFormatPlanes) {
        if (format.code == code) return &format;
    }
    return nullptr;
}

}  // namespace

int32_t TPixScaler::Configure(int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                              int32_t srcHeight, int32_t code) {
    m_bConfigured = false;
    if (FindFormatPlanes(code) == nullptr) return kModuleUnsupported;
    if (!IsValidSize(srcWidth, srcHeight) || !IsValidSize(dstWidth, dstHeight)) {
        return kModuleBadArgument;
    }
    m_nCode = code;
    m_nSrcWidth = srcWidth;
    m_nSrcHeight = srcHeight;
    m_nDstWidth = dstWidth;
    m_nDstHeight = dstHeight;
    if (!ConfigurePlanes()) return kModuleNoMemory;
    m_srcLayout = LayoutOf(code, srcWidth, srcHeight);
    m_dstLayout = LayoutOf(code, dstWidth, dstHeight);
    m_bConfigured = true;
    return kModuleOk;
}

bool TPixScaler::ConfigurePlanes() {
    const TFormatPlanes& format = *FindFormatPlanes(m_nCode);
    for (int plane = 0; plane < format.count; ++plane) {
        const TPlaneKind& kind = format.planes[plane];
        auto side = [](int32_t n, bool half) { return half ? HalfUp(n) : n; };
        if (!m_planes[plane].Configure(
                kind.kind, side(m_nSrcWidth, kind.halfWidth), side(m_nSrcHeight, kind.halfHeight),
                side(m_nDstWidth, kind.halfWidth), side(m_nDstHeight, kind.halfHeight))) {
            return false;
        }
    }
    return true;
}

int32_t TPixScaler::Run(uint8_t* const dst[], const int32_t dstLinesize[],
                        const uint8_t* const src[], const int32_t srcLinesize[]) {
    if (!m_bConfigured) return kModuleNotConfigured;
    if (!PlanesFit(m_srcLayout, src, srcLinesize) || !PlanesFit(m_dstLayout, dst, dstLinesize)) {
        return kModuleBadArgument;
    }
    for (int plane = 0; plane < m_srcLayout.planeCount; ++plane) {
        m_planes[plane].Run(src[plane], srcLinesize[plane], dst[plane], dstLinesize[plane]);
    }
    return kModuleOk;
}

}  // namespace gxrl
