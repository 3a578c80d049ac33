#include "engine/modules/IIMPlugIn.h"

#include "engine/modules/ModuleFolder.h"
#include "engine/modules/ModuleLoader.h"

namespace pelorn {

IIMPlugIn::IIMPlugIn() : IIMPlugIn(ModuleFolder() + "/" + kFileName) {}

IIMPlugIn::IIMPlugIn(std::string path) : m_strPath(std::move(path)) {
    m_hModule = LoadModule(m_strPath);
    if (m_hModule == nullptr) return;
    m_pfnRotate4 = reinterpret_cast<TurnFn>(ResolveOrdinal(m_hModule, 4));
    m_pfnRotate6 = reinterpret_cast<TurnFn>(ResolveOrdinal(m_hModule, 6));
    m_pfnProbe = reinterpret_cast<ProbeFn>(ResolveOrdinal(m_hModule, 1));
    m_pfnBeauty = reinterpret_cast<BeautyFn>(ResolveOrdinal(m_hModule, 156));
}

IIMPlugIn::~IIMPlugIn() { ReleaseModule(m_hModule, m_strPath); }

int IIMPlugIn::RotateQuarter(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight,
                             int srcLinesize, int dstWidth, int dstHeight, int dstLinesize) {
    if (m_pfnRotate4 == nullptr) return 1;
    return m_pfnRotate4(src, dst, srcWidth, srcHeight, srcLinesize, dstWidth, dstHeight,
                        dstLinesize);
}

int IIMPlugIn::RotateQuarterBack(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight,
                                 int srcLinesize, int dstWidth, int dstHeight, int dstLinesize) {
    if (m_pfnRotate6 == nullptr) return 1;
    return m_pfnRotate6(src, dst, srcWidth, srcHeight, srcLinesize, dstWidth, dstHeight,
                        dstLinesize);
}

int IIMPlugIn::Probe(void* a, void* b, int x, int y, int z) {
    if (m_pfnProbe == nullptr) return 1;
    return m_pfnProbe(a, b, x, y, z);
}

int IIMPlugIn::BeautySkin(const uint8_t* src, uint8_t* dst, int width, int height, int linesize,
                          int smoothing, int whitening, int texture) {
    if (m_pfnBeauty == nullptr) return 1;
    return m_pfnBeauty(src, dst, width, height, linesize, smoothing, whitening, texture);
}

}  // namespace pelorn
