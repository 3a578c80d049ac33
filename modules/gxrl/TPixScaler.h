#pragma once

#include <cstdint>

#include "modules/ModuleAbi.h"
#include "modules/gxrl/PixLayout.h"
#include "modules/gxrl/TPlaneResampler.h"

namespace gxrl {

// The scaler of ordinal 164: every plane of the format resampled bilinearly
// by its own TPlaneResampler. Configure reserves everything; Run only scales.
class TPixScaler final : public IPixScaler {
public:
    int32_t Reserved0() override { return kModuleUnsupported; }
    int32_t Reserved1() override { return kModuleUnsupported; }
    void Release() override { delete this; }
    int32_t Configure(int32_t dstWidth, int32_t dstHeight, int32_t srcWidth, int32_t srcHeight,
                      int32_t code) override;
    int32_t Run(uint8_t* const dst[], const int32_t dstLinesize[], const uint8_t* const src[],
                const int32_t srcLinesize[]) override;

private:
    bool ConfigurePlanes();

    TPlaneResampler m_planes[kMaxPlanes];
    TPixLayout m_srcLayout;
    TPixLayout m_dstLayout;
    int32_t m_nCode = 0;
    int32_t m_nSrcWidth = 0;
    int32_t m_nSrcHeight = 0;
    int32_t m_nDstWidth = 0;
    int32_t m_nDstHeight = 0;
    bool m_bConfigured = false;
};

}  // namespace gxrl
