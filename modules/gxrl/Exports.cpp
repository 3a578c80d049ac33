// The exported entry points of "Gxrl.dat". Everything else is hidden.

#include <new>
#include <type_traits>

#include "modules/ModuleAbi.h"
#include "modules/gxrl/PixLayout.h"
#include "modules/gxrl/PixelOps.h"
#include "modules/gxrl/TPixConverter.h"
#include "modules/gxrl/TPixScaler.h"

#define GXRL_EXPORT extern "C" __attribute__((visibility("default")))

GXRL_EXPORT int32_t Ordinal159(IPixConverter** out, void* /*reserved*/) {
    if (out == nullptr) return kModuleBadArgument;
    *out = new (std::nothrow) gxrl::TPixConverter;
    return *out != nullptr ? kModuleOk : kModuleNoMemory;
}

GXRL_EXPORT int32_t Ordinal164(IPixScaler** out, int32_t /*a*/, int32_t /*b*/) {
    if (out == nullptr) return kModuleBadArgument;
    *out = new (std::nothrow) gxrl::TPixScaler;
    return *out != nullptr ? kModuleOk : kModuleNoMemory;
}

GXRL_EXPORT void Ordinal351(const uint8_t* src, int32_t srcLinesize, uint8_t* dst,
                            int32_t dstLinesize, int32_t width, int32_t height, int32_t /*a*/,
                            int32_t /*b*/) {
    if (src == nullptr || dst == nullptr || !gxrl::IsValidSize(width, height)) return;
    gxrl::FillAlpha(src, srcLinesize, dst, dstLinesize, width, height);
}

GXRL_EXPORT int32_t Ordinal347(const uint8_t* fg, int32_t fgLinesize, const uint8_t* bg,
                               int32_t bgLinesize, uint8_t* dst, int32_t dstLinesize, int32_t width,
                               int32_t height, int32_t /*a*/, int32_t /*b*/, const uint8_t* mask,
                               int32_t maskLinesize) {
    if (fg == nullptr || bg == nullptr || dst == nullptr || mask == nullptr ||
        !gxrl::IsValidSize(width, height)) {
        return kModuleBadArgument;
    }
    gxrl::BlendBgr24(fg, fgLinesize, bg, bgLinesize, dst, dstLinesize, mask, maskLinesize, width,
                     height);
    return kModuleOk;
}

// The exports keep the calling interface's types exactly.
static_assert(std::is_same_v<decltype(&Ordinal159), CreateConverterFn>);
static_assert(std::is_same_v<decltype(&Ordinal164), CreateScalerFn>);
static_assert(std::is_same_v<decltype(&Ordinal351), Op351Fn>);
static_assert(std::is_same_v<decltype(&Ordinal347), BlendFn>);
