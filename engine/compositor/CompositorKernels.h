#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/compositor/KernelIds.h"
#include "engine/compositor/TCompositorPool.h"

namespace pelorn {

class IBrenvikItf;

// The per-pixel kernels of one composition, each working on its band (a
// quarter of the rows, or of the bytes for flat buffers). Pictures are
// packed without padding: BGR24 rows of width x 3 bytes, BGRA rows of
// width x 4, masks of width bytes; YUYV and UYVY rows of (width + 1) / 2
// pairs; YUVJ422P as a Y plane of width x height followed by U and V planes
// of (width + 1) / 2 x height; packed 4:4:4 samples as V, U, Y bytes.
namespace kernels {

struct TRect {
    int left;
    int top;
    int right;   // inclusive
    int bottom;  // inclusive
    bool IsEmpty() const { return right < left || bottom < top; }
};

// The half-open range [begin, end) of band `band` out of `count` items.
struct TBandRange {
    size_t begin;
    size_t end;
};
TBandRange BandOf(size_t count, int band);

struct TCopyArgs {
    uint8_t* dst;
    const uint8_t* src;
    size_t bytes;
};
struct TFillArgs {
    uint8_t* dst;
    size_t bytes;
    uint8_t value;
};
struct TGreyMaskArgs {
    uint8_t* picture;  // BGR24
    const uint8_t* mask;
    size_t pixels;
};
struct TLevelApplyArgs {
    uint8_t* picture;  // BGR24, in place
    const uint8_t* levelTable;
    size_t pixels;
};
struct TMaskFilterArgs {
    uint8_t* dst;
    const uint8_t* src;
    int width;
    int height;
};
struct TMattArgs {
    uint8_t* picture;  // BGR24
    uint8_t* mask;
    const uint8_t* source;
    const uint8_t* table;  // classification table
    int width;
    int height;
};
struct TDebugTintArgs {
    uint8_t* picture;
    const uint8_t* mask;
    size_t pixels;
    int low;  // masks strictly between low and high are tinted
    int high;
};
struct TSkinBlendArgs {
    uint8_t* picture;         // BGR24: the original in, the weighted result out
    const uint8_t* filtered;  // BGR24: the beauty filter's result
    const uint8_t* classes;   // class table
    size_t pixels;
};
struct TBlendArgs {
    IBrenvikItf* module;
    const uint8_t* fg;  // BGR24
    const uint8_t* bg;  // BGR24, or BGRA with bgIsBgra
    uint8_t* dst;       // BGR24; may be fg, or bg when that is BGR24; or BGRA with dstIsBgra
    const uint8_t* mask;
    int width;
    int height;
    bool bgIsBgra = false;
    bool dstIsBgra = false;  // then dst is neither fg nor bg
};
struct TOutlineArgs {
    uint8_t* picture;  // BGR24
    const uint8_t* mask;
    int width;
    int height;
};
struct TConvertArgs {
    uint8_t* dst;
    const uint8_t* src;
    int width;
    int height;
    int format;  // AVPixelFormat of the YUV side
};
struct TPixelArgs {
    uint8_t* dst;
    const uint8_t* src;
    size_t pixels;
};
struct TBoundsArgs {
    const uint8_t* mask;
    int width;
    int height;
    TRect* bands;  // one result per band; empty when the band holds no subject
};
struct TClearOutsideArgs {
    uint8_t* picture;
    int bytesPerPixel;
    int width;
    int height;
    TRect keep;
};
struct TReverseBitsArgs {
    uint8_t* buffer;
    size_t bytes;
};

// A mask byte counts as subject from this value on.
constexpr uint8_t kOpaqueFrom = 128;

// The outline colour (magenta) and the subject-rectangle colour (yellow), BGR.
constexpr std::array<uint8_t, 3> kOutlineColour{255, 0, 255};
constexpr std::array<uint8_t, 3> kSubjectColour{0, 255, 255};

void BandCopy(const void* arguments, int band);
void GreyMask(const void* arguments, int band);
void LevelApply(const void* arguments, int band);
void MaskFilter(const void* arguments, int band);
void MattUyvy(const void* arguments, int band);
void ReverseBits(const void* arguments, int band);
void Fill(const void* arguments, int band);
void DebugTint(const void* arguments, int band);
void SkinBlend(const void* arguments, int band);
void Blend(const void* arguments, int band);
void DebugOutline(const void* arguments, int band);
void YuvToBgr(const void* arguments, int band);
void CanvasToBgr(const void* arguments, int band);
void BgrToBgra(const void* arguments, int band);
void BgrToYuv(const void* arguments, int band);
void MattYuyv(const void* arguments, int band);
void SubjectBounds(const void* arguments, int band);
void MattYuvj422p(const void* arguments, int band);
void ClearOutside(const void* arguments, int band);
void MattPacked444(const void* arguments, int band);

// Row-level routines, also the tests' handle on the fast paths.
void MaskFilterRow(const uint8_t* __restrict above, const uint8_t* __restrict row,
                   const uint8_t* __restrict below, uint8_t* __restrict out, int width);
// The 1 2 1 / 2 4 2 / 1 2 1 filter of one mask byte, divided by 16; the
// reference the row routine is tested against.
uint8_t MaskFilterAt(const uint8_t* mask, int width, int x, int y);

// The pool's table: all 26 kernels.
std::span<const TKernelEntry> KernelTable();

}  // namespace kernels
}  // namespace pelorn
