#pragma once

#include <cstdint>

// The module's own per-pixel loops: written so that the compiler vectorises
// them, built for AVX2 and for the baseline and picked by the CPU at load.

namespace gxrl {

// dst = (fg * m + bg * (255 - m)) / 255 per byte, rounded to nearest, for
// pictures of 3 bytes and one mask byte per pixel. dst may be fg or bg.
void BlendBgr24(const uint8_t* fg, int32_t fgLinesize, const uint8_t* bg, int32_t bgLinesize,
                uint8_t* dst, int32_t dstLinesize, const uint8_t* mask, int32_t maskLinesize,
                int32_t width, int32_t height);

// dst = src with byte 3 of each 4-byte pixel set to 255; dst may be src.
void FillAlpha(const uint8_t* src, int32_t srcLinesize, uint8_t* dst, int32_t dstLinesize,
               int32_t width, int32_t height);

}  // namespace gxrl
