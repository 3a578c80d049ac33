#pragma once

#include <cstdint>

// The beauty filter's per-pixel loops (see TBeautyFilter for the formula):
// written for the vectoriser, built for AVX2 and for the baseline and picked
// by the CPU at load.

namespace beautyskin {

// Luma Y = 0.114 B + 0.587 G + 0.299 R and the skin weight of each pixel of
// a BGR24 row.
void LumaAndSkinRow(const uint8_t* bgr, float* luma, float* skin, int32_t width);

// sums[i] += row[i]: rows of bytes added up for the cell means.
void AccumulateRow(uint16_t* sums, const uint8_t* row, int32_t bytes);

// Luma and skin weight of each cell from its mean B, G and R.
void CellLumaAndSkin(const float* b, const float* g, const float* r, float* luma, float* skin,
                     int32_t cells);

// One row of the cell grid interpolated across the full width, centre-
// aligned: pixel x sits at position (x + 0.5) / cell - 0.5 of the grid.
void UpsampleRow(const float* cells, int32_t cellCount, int32_t cell, float* out, int32_t width);

struct TRowInputs {
    const float* luma;        // this row, padded: luma[-1] and luma[width] exist
    const float* columnSums;  // luma of the rows above, this and below summed, padded alike
    const float* a[2];        // guided-filter coefficients of the coarse rows around this one
    const float* b[2];
    const float* skin[2];    // skin weight of the neighbourhood, same rows
    const float* pixelSkin;  // each pixel's own skin weight
    float rowWeight;         // of the lower coarse row
};

struct TFactors {
    float smoothing;  // s, 0..1
    float texture;    // t, 0..1
    float whitening;  // k
};

// The change of each pixel's luma, rounded to whole levels.
void DeltaOfRow(const TRowInputs& in, const TFactors& factors, int16_t* delta, int32_t width);

// out = in + delta on each of B, G and R, clamped; out may be in.
void AddDelta(const uint8_t* src, const int16_t* delta, uint8_t* dst, int32_t width);

void SumThreeRows(const float* above, const float* row, const float* below, float* sums,
                  int32_t count);

}  // namespace beautyskin
