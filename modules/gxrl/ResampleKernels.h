#pragma once

#include <cstdint>

// Row passes of the bilinear resampler. Weights are in 1/256; a pass over
// bytes keeps its sums x256 in 16 bits (at most 255 * 256), and the pass
// that finishes a row rounds the x65536 sum back to a byte.

namespace gxrl {

// Two neighbouring source samples and the weight of the second.
struct TResampleTap {
    int32_t first;
    int32_t second;
    int32_t weight;  // of `second`, in 1/256
};

// out[i] = first[i] * (256 - weight) + second[i] * weight.
void BlendByteRows(const uint8_t* first, const uint8_t* second, int32_t weight, uint16_t* out,
                   int32_t count);

// dst[i] = (blended[i] + 128) >> 8.
void RoundBlendedRow(const uint16_t* blended, uint8_t* dst, int32_t count);

// dst = (v[a] * (256 - w) + v[b] * w + 32768) >> 16 per channel of each tap,
// v a blended row; `count` taps of `channels` samples each.
void SampleBlendedRow(int channels, const uint16_t* blended, const TResampleTap* taps,
                      uint8_t* dst, int32_t count);

// out[i] = src[i] << 8: a row whose width does not change.
void WidenByteRow(const uint8_t* src, uint16_t* out, int32_t count);

// out = src[a] * (256 - w) + src[b] * w per channel of each tap.
void ScaleByteRow(int channels, const uint8_t* src, const TResampleTap* taps, uint16_t* out,
                  int32_t count);

// ScaleByteRow for four channels whose taps are neighbours (b = a + 1):
// `offsets` holds 4 * a per destination pixel, `weights` the pairs
// (256 - w, w) four times per pixel. Vectorised where the CPU allows.
void ScaleNeighbourPixelRow(const uint8_t* src, const int32_t* offsets, const int16_t* weights,
                            uint16_t* out, int32_t count);

// dst[i] = (first[i] * (256 - weight) + second[i] * weight + 32768) >> 16.
void BlendScaledRows(const uint16_t* first, const uint16_t* second, int32_t weight,
                     uint8_t* dst, int32_t count);

}  // namespace gxrl
