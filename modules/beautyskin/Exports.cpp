// The exported entry points of "TBeautySkin.dat". Everything else is hidden.

#include <mutex>
#include <type_traits>

#include "modules/ModuleAbi.h"
#include "modules/beautyskin/QuarterTurn.h"
#include "modules/beautyskin/TBeautyFilter.h"

#define BEAUTY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kMaxSide = 16384;

// One filter for the process, its scratch buffers kept between calls; the
// lock makes concurrent callers take turns.
struct TSharedFilter {
    std::mutex lock;
    beautyskin::TBeautyFilter filter;
};

TSharedFilter& SharedFilter() {
    static TSharedFilter shared;
    return shared;
}

}  // namespace

BEAUTY_EXPORT int32_t Ordinal4(const uint8_t* src, uint8_t* dst, int32_t srcWidth,
                               int32_t srcHeight, int32_t srcLinesize, int32_t dstWidth,
                               int32_t dstHeight, int32_t dstLinesize) {
    return beautyskin::TurnQuarter(beautyskin::TTurn::kClockwise, src, dst, srcWidth, srcHeight,
                                   srcLinesize, dstWidth, dstHeight, dstLinesize);
}

BEAUTY_EXPORT int32_t Ordinal6(const uint8_t* src, uint8_t* dst, int32_t srcWidth,
                               int32_t srcHeight, int32_t srcLinesize, int32_t dstWidth,
                               int32_t dstHeight, int32_t dstLinesize) {
    return beautyskin::TurnQuarter(beautyskin::TTurn::kCounterClockwise, src, dst, srcWidth,
                                   srcHeight, srcLinesize, dstWidth, dstHeight, dstLinesize);
}

// Resolved by the holders only, to tell whether the module is still loaded.
BEAUTY_EXPORT int32_t Ordinal1(void*, void*, int32_t, int32_t, int32_t) { return kModuleOk; }

BEAUTY_EXPORT int32_t Ordinal156(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                                 int32_t linesize, int32_t smoothing, int32_t whitening,
                                 int32_t texture) {
    if (src == nullptr || dst == nullptr || width < 1 || height < 1 || width > kMaxSide ||
        height > kMaxSide || linesize < width * 3) {
        return kModuleBadArgument;
    }
    TSharedFilter& shared = SharedFilter();
    std::lock_guard<std::mutex> hold(shared.lock);
    return shared.filter.Apply(src, dst, width, height, linesize, {smoothing, whitening, texture})
               ? kModuleOk
               : kModuleNoMemory;
}

static_assert(std::is_same_v<decltype(&Ordinal4), TurnFn>);
static_assert(std::is_same_v<decltype(&Ordinal6), TurnFn>);
static_assert(std::is_same_v<decltype(&Ordinal1), ProbeFn>);
static_assert(std::is_same_v<decltype(&Ordinal156), BeautyFn>);
