#include "engine/modules/BrenvikDLL.h"

#include "engine/modules/ModuleFolder.h"
#include "engine/modules/ModuleLoader.h"

namespace pelorn {

BrenvikDLL::BrenvikDLL() : BrenvikDLL(ModuleFolder() + "/" + kFileName) {}

BrenvikDLL::BrenvikDLL(std::string path) : m_strPath(std::move(path)) {
    m_hModule = LoadModule(m_strPath);
    if (m_hModule == nullptr) return;
    m_pfnCreateConverter = reinterpret_cast<CreateConverterFn>(ResolveOrdinal(m_hModule, 159));
    m_pfnCreateScaler = reinterpret_cast<CreateScalerFn>(ResolveOrdinal(m_hModule, 164));
    m_pfnOp351 = reinterpret_cast<Op351Fn>(ResolveOrdinal(m_hModule, 351));
    m_pfnBlend = reinterpret_cast<BlendFn>(ResolveOrdinal(m_hModule, 347));
}

BrenvikDLL::~BrenvikDLL() { ReleaseModule(m_hModule, m_strPath); }

int BrenvikDLL::CreateConverter(IPixConverter** out, void* reserved) {
    if (m_pfnCreateConverter == nullptr) return 1;
    return m_pfnCreateConverter(out, reserved);
}

int BrenvikDLL::CreateScaler(IPixScaler** out, int a, int b) {
    if (m_pfnCreateScaler == nullptr) return 1;
    return m_pfnCreateScaler(out, a, b);
}

void BrenvikDLL::Op351(const uint8_t* src, int srcLinesize, uint8_t* dst, int dstLinesize,
                       int width, int height, int a, int b) {
    if (m_pfnOp351 == nullptr) return;
    m_pfnOp351(src, srcLinesize, dst, dstLinesize, width, height, a, b);
}

int BrenvikDLL::AlphaBlend(const uint8_t* fg, int fgLinesize, const uint8_t* bg, int bgLinesize,
                           uint8_t* dst, int dstLinesize, int width, int height, int a, int b,
                           const uint8_t* mask, int maskLinesize) {
    if (m_pfnBlend == nullptr) return 0;
    return m_pfnBlend(fg, fgLinesize, bg, bgLinesize, dst, dstLinesize, width, height, a, b, mask,
                      maskLinesize);
}

}  // namespace pelorn
