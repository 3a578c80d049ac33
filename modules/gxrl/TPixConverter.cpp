#include "modules/gxrl/TPixConverter.h"

#include "modules/gxrl/PixLayout.h"

namespace gxrl {

int32_t TPixConverter::Configure(int32_t dstCode, int32_t, int32_t srcCode, int32_t, int32_t width,
                                 int32_t height, int32_t, int32_t, int32_t, int32_t) {
    m_bConfigured = false;
    if (!IsKnownCode(srcCode) || !IsKnownCode(dstCode)) return kModuleUnsupported;
    if (!IsValidSize(width, height)) return kModuleBadArgument;
    if (!m_scratch.Reserve(width)) return kModuleNoMemory;
    m_route = FindRoute(srcCode, dstCode);
    m_nSrcCode = srcCode;
    m_nDstCode = dstCode;
    m_nWidth = width;
    m_nHeight = height;
    m_bConfigured = true;
    return kModuleOk;
}

int32_t TPixConverter::Run(uint8_t* const dst[], const int32_t dstLinesize[],
                           const uint8_t* const src[], const int32_t srcLinesize[]) {
    if (!m_bConfigured) return kModuleNotConfigured;
    if (!PlanesFit(LayoutOf(m_nSrcCode, m_nWidth, m_nHeight), src, srcLinesize) ||
        !PlanesFit(LayoutOf(m_nDstCode, m_nWidth, m_nHeight), dst, dstLinesize)) {
        return kModuleBadArgument;
    }
    RunRoute(m_route, {{src, srcLinesize}, {dst, dstLinesize}, m_nWidth, m_nHeight, &m_scratch});
    return kModuleOk;
}

}  // namespace gxrl
