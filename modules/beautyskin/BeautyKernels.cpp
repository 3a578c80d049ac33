#include "modules/beautyskin/BeautyKernels.h"

#include <algorithm>

// Internal linkage for the dispatched kernels: the resolvers of external
// ones would be exported whatever the visibility.
#define BEAUTY_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

namespace beautyskin {

namespace {

[[gnu::always_inline]] inline float Luma(float b, float g, float r) {
    return 0.114f * b + 0.587f * g + 0.299f * r;
}

[[gnu::always_inline]] inline float Clamp(float v, float lo, float hi) {
    return std::min(std::max(v, lo), hi);
}

// How much a colour looks like skin, 0..1. Skin tones of every complexion
// gather in the chroma plane (BT.601, full range) around Cb = 102, Cr = 153
// within about Cb 77..127, Cr 133..173: weight 1 well inside that ellipse,
// falling to 0 a little outside it. Deep shadows and hair (luma below 40)
// are left alone.
// With the luma y at hand: Cb = 128 + (B - y) / 1.772, Cr = 128 + (R - y) /
// 1.402, and the distances from the centre in half-axes
//   du = (Cb - 102) / 25,  dv = (Cr - 153) / 20.
[[gnu::always_inline]] inline float SkinWeight(float b, float r, float y) {
    const float du = (b - y) * (1.0f / (1.772f * 25.0f)) + (128.0f - 102.0f) / 25.0f;
    const float dv = (r - y) * (1.0f / (1.402f * 20.0f)) + (128.0f - 153.0f) / 20.0f;
    const float inside = Clamp((1.5f - (du * du + dv * dv)) * 1.25f, 0.0f, 1.0f);
    const float lit = Clamp((y - 40.0f) * (1.0f / 40.0f), 0.0f, 1.0f);
    return inside * lit;
}

BEAUTY_VECTOR_CLONES
void LumaAndSkin(const uint8_t* __restrict bgr, float* __restrict luma, float* __restrict skin,
                 int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const float b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
        const float y = Luma(b, g, r);
        luma[x] = y;
        skin[x] = SkinWeight(b, r, y);
    }
}

BEAUTY_VECTOR_CLONES
void Accumulate(uint16_t* __restrict sums, const uint8_t* __restrict row, int32_t bytes) {
    for (int32_t i = 0; i < bytes; ++i) sums[i] = static_cast<uint16_t>(sums[i] + row[i]);
}

BEAUTY_VECTOR_CLONES
void CellValues(const float* __restrict b, const float* __restrict g, const float* __restrict r,
                float* __restrict luma, float* __restrict skin, int32_t cells) {
    for (int32_t i = 0; i < cells; ++i) {
        const float y = Luma(b[i], g[i], r[i]);
        luma[i] = y;
        skin[i] = SkinWeight(b[i], r[i], y);
    }
}

// Pixel x between cells `first` and first + 1, the latter weighing `weight`.
[[gnu::always_inline]] inline float Interpolate(const float* cells, int32_t count, int32_t cell,
                                                int32_t x) {
    const float position = (static_cast<float>(x) + 0.5f) / static_cast<float>(cell) - 0.5f;
    if (position <= 0.0f) return cells[0];
    const auto first = static_cast<int32_t>(position);
    if (first >= count - 1) return cells[count - 1];
    const float weight = position - static_cast<float>(first);
    return cells[first] + (cells[first + 1] - cells[first]) * weight;
}

void UpsampleAnyCell(const float* cells, int32_t count, int32_t cell, float* out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) out[x] = Interpolate(cells, count, cell, x);
}

// The pixels of a whole cell i with both neighbours: pixel i * kCell + p lies
// between cells i - 1 and i for p < kCell / 2, between i and i + 1 otherwise,
// at fixed weights: loops the compiler unrolls and vectorises.
template <int32_t kCell>
BEAUTY_VECTOR_CLONES void UpsampleFixedCell(const float* __restrict cells, int32_t count,
                                            float* __restrict out, int32_t width) {
    float weight[kCell];
    int32_t offset[kCell];
    for (int32_t p = 0; p < kCell; ++p) {
        const float position = (static_cast<float>(p) + 0.5f) / kCell - 0.5f;
        offset[p] = position < 0.0f ? -1 : 0;
        weight[p] = position - static_cast<float>(offset[p]);
    }
    const int32_t interiorEnd = std::min(count - 1, width / kCell);
    for (int32_t x = 0; x < std::min(kCell, width); ++x) {
        out[x] = Interpolate(cells, count, kCell, x);
    }
    for (int32_t i = 1; i < interiorEnd; ++i) {
        for (int32_t p = 0; p < kCell; ++p) {
            const float a = cells[i + offset[p]];
            const float b = cells[i + offset[p] + 1];
            out[i * kCell + p] = a + (b - a) * weight[p];
        }
    }
    for (int32_t x = std::max(interiorEnd, 1) * kCell; x < width; ++x) {
        out[x] = Interpolate(cells, count, kCell, x);
    }
}

//   Ys = Y + s * (A * Y + B + t * (Y - box3(Y)) - Y)
//   Yw = Ys + k * Ys * (255 - Ys) / 255
//   delta = skin * (Yw - Y), rounded: (int)(d + 256.5) - 256 (d >= -255)
BEAUTY_VECTOR_CLONES
void Delta(const TRowInputs& in, TFactors f, int16_t* __restrict delta, int32_t width) {
    // Local restrict copies: stores to delta cannot change what they point at.
    const float* __restrict a0 = in.a[0];
    const float* __restrict a1 = in.a[1];
    const float* __restrict b0 = in.b[0];
    const float* __restrict b1 = in.b[1];
    const float* __restrict skin0 = in.skin[0];
    const float* __restrict skin1 = in.skin[1];
    const float* __restrict pixelSkin = in.pixelSkin;
    const float* __restrict luma = in.luma;
    const float* __restrict sums = in.columnSums;
    const float w = in.rowWeight;
    for (int32_t x = 0; x < width; ++x) {
        const float a = a0[x] + (a1[x] - a0[x]) * w;
        const float b = b0[x] + (b1[x] - b0[x]) * w;
        const float skin = (skin0[x] + (skin1[x] - skin0[x]) * w) * pixelSkin[x];
        const float y = luma[x];
        const float fine = y - (sums[x - 1] + sums[x] + sums[x + 1]) * (1.0f / 9.0f);
        const float smoothed =
            Clamp(y + f.smoothing * (a * y + b + f.texture * fine - y), 0.0f, 255.0f);
        const float whitened =
            smoothed + f.whitening * smoothed * (255.0f - smoothed) * (1.0f / 255.0f);
        const float change = skin * (whitened - y);
        delta[x] = static_cast<int16_t>(static_cast<int32_t>(change + 256.5f) - 256);
    }
}

BEAUTY_VECTOR_CLONES
void Add(const uint8_t* src, const int16_t* __restrict delta, uint8_t* dst, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) {
            const int v = src[3 * x + c] + delta[x];
            dst[3 * x + c] = static_cast<uint8_t>(std::min(std::max(v, 0), 255));
        }
    }
}

BEAUTY_VECTOR_CLONES
void SumThree(const float* __restrict above, const float* __restrict row,
              const float* __restrict below, float* __restrict sums, int32_t count) {
    for (int32_t i = 0; i < count; ++i) sums[i] = above[i] + row[i] + below[i];
}

}  // namespace

void LumaAndSkinRow(const uint8_t* bgr, float* luma, float* skin, int32_t width) {
    LumaAndSkin(bgr, luma, skin, width);
}

void UpsampleRow(const float* cells, int32_t cellCount, int32_t cell, float* out, int32_t width) {
    switch (cell) {
        case 2:
            return UpsampleFixedCell<2>(cells, cellCount, out, width);
        case 3:
            return UpsampleFixedCell<3>(cells, cellCount, out, width);
        case 4:
            return UpsampleFixedCell<4>(cells, cellCount, out, width);
        default:
            return UpsampleAnyCell(cells, cellCount, cell, out, width);
    }
}

void AccumulateRow(uint16_t* sums, const uint8_t* row, int32_t bytes) {
    Accumulate(sums, row, bytes);
}

void CellLumaAndSkin(const float* b, const float* g, const float* r, float* luma, float* skin,
                     int32_t cells) {
    CellValues(b, g, r, luma, skin, cells);
}

void DeltaOfRow(const TRowInputs& in, const TFactors& factors, int16_t* delta, int32_t width) {
    Delta(in, factors, delta, width);
}

void AddDelta(const uint8_t* src, const int16_t* delta, uint8_t* dst, int32_t width) {
    Add(src, delta, dst, width);
}

void SumThreeRows(const float* above, const float* row, const float* below, float* sums,
                  int32_t count) {
    SumThree(above, row, below, sums, count);
}

}  // namespace beautyskin
