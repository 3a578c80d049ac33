#pragma once

#include <cstdint>

// The module's own colour arithmetic, BT.601 to within the final rounding
// (libyuv's rows use 6- and 8-bit coefficients and miss by up to 3 levels
// from YUV to RGB, 1 the other way, so that a round trip could be 5 off).
// Loops written for the vectoriser, built for AVX2 and for the baseline and
// picked by the CPU at load.

namespace gxrl {

enum class TYuvRange {
    kLimited,  // Y 16..235, chroma 16..240
    kFull,     // all of 0..255 (YUVJ422P)
};

// One row of BGRA from planar Y and chroma of half the width (the rows of
// 4:2:2 and 4:2:0 pictures; pixel x takes chroma x / 2). Limited range:
//   B = 1.164383 (Y - 16) + 2.017232 (U - 128)
//   G = 1.164383 (Y - 16) - 0.391762 (U - 128) - 0.812968 (V - 128)
//   R = 1.164383 (Y - 16) + 1.596027 (V - 128)
// full range: B = Y + 1.772 (U - 128), G = Y - 0.344136 (U - 128) -
// 0.714136 (V - 128), R = Y + 1.402 (V - 128); rounded, clamped, alpha 255.
void YuvToBgraRow(TYuvRange range, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                  uint8_t* bgra, int32_t width);

// Luma of one row of BGRA: limited range 16 + 0.256788 R + 0.504129 G +
// 0.097906 B, full range 0.299 R + 0.587 G + 0.114 B; rounded.
void BgraToLumaRow(TYuvRange range, const uint8_t* bgra, uint8_t* y, int32_t width);

// Chroma of half the width from the mean colour of each 2 x 2 block of two
// BGRA rows (the same row twice for 4:2:2; an odd last column counts its one
// pixel twice). Limited range:
//   U = 128 - 0.148223 R - 0.290993 G + 0.439216 B
//   V = 128 + 0.439216 R - 0.367788 G - 0.071427 B
// full range: U = 128 - 0.168736 R - 0.331264 G + 0.5 B,
//             V = 128 + 0.5 R - 0.418688 G - 0.081312 B; rounded.
void BgraToChromaRow(TYuvRange range, const uint8_t* bgra0, const uint8_t* bgra1, uint8_t* u,
                     uint8_t* v, int32_t width);

// Full range to limited range, exact to the rounding:
//   luma 16 + Y * 219 / 255, chroma 128 + (C - 128) * 224 / 255.
void FullToLimitedLumaRow(const uint8_t* src, uint8_t* dst, int32_t count);
void FullToLimitedChromaRow(const uint8_t* src, uint8_t* dst, int32_t count);

}  // namespace gxrl
