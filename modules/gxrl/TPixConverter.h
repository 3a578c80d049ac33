#pragma once

#include <cstdint>

#include "modules/ModuleAbi.h"
#include "modules/gxrl/ConversionRoutes.h"
#include "modules/gxrl/TBandScratch.h"

namespace gxrl {

// The converter of ordinal 159: the route of ConversionRoutes for its pair of
// codes. Configure reserves everything; Run only converts.
class TPixConverter final : public IPixConverter {
public:
    int32_t Reserved0() override { return kModuleUnsupported; }
    int32_t Reserved1() override { return kModuleUnsupported; }
    void Release() override { delete this; }
    int32_t Configure(int32_t dstCode, int32_t a1, int32_t srcCode, int32_t a3, int32_t width,
                      int32_t height, int32_t a6, int32_t a7, int32_t a8, int32_t a9) override;
    int32_t Run(uint8_t* const dst[], const int32_t dstLinesize[], const uint8_t* const src[],
                const int32_t srcLinesize[]) override;

private:
    int32_t m_nSrcCode = 0;
    int32_t m_nDstCode = 0;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    bool m_bConfigured = false;
    TRoute m_route;
    TBandScratch m_scratch;
};

}  // namespace gxrl
