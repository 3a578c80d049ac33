#pragma once

#include <cstdint>
#include <vector>

#include "modules/beautyskin/TBoxFilter.h"

namespace beautyskin {

// Strengths 0..10 each.
struct TBeautyStrengths {
    int32_t smoothing;
    int32_t whitening;
    int32_t texture;
};

// The beauty filter on packed BGR24, working on luma only and only where the
// colour is a skin tone:
//   Y  = 0.114 B + 0.587 G + 0.299 R
//   q  = A * Y + B            a self-guided filter of Y (edge-preserving: A
//                             stays near 1 where the local variance exceeds
//                             eps, so edges keep their step)
//   Ys = Y + s * (q + t * (Y - box3(Y)) - Y)        smoothing s, texture t
//   Yw = Ys + k * Ys * (255 - Ys) / 255             whitening k: lifts the
//                                                   midtones, not black or white
//   out = in + skin * (Yw - Y) on each of B, G, R
// where skin is the skin-tone weight of the pixel's neighbourhood times that
// of the pixel itself (0 on anything that is not skin: that stays exact).
// A, B and the neighbourhood's skin weight come from a coarse grid of cells
// (the fast guided filter): the picture is averaged into cells of a few
// pixels, the filter solved there and its coefficients interpolated back
// bilinearly.
//
// Scratch buffers are members, sized on the first call at a size; one caller
// at a time.
class TBeautyFilter {
public:
    // src and dst may be the same buffer. False without memory.
    bool Apply(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t linesize,
               const TBeautyStrengths& strengths);

private:
    // One coarse row's coefficients and skin weight across the full width.
    struct TUpsampledRow {
        int32_t coarseRow = -1;
        std::vector<float> a, b, skin;
    };

    bool Reserve(int32_t width, int32_t height);
    void AverageCells(const uint8_t* src, int32_t linesize);
    void SolveGuidedFilter(float eps);
    void FillUpsampled(int32_t coarseRow, int32_t keep);
    const TUpsampledRow* FindUpsampled(int32_t coarseRow) const;
    void PrepareRow(const uint8_t* src, int32_t row);
    void FilterRow(const uint8_t* src, uint8_t* dst, int32_t row);
    float* LumaOf(int32_t row) { return m_lumaRows[row % 3].data() + 1; }
    float* SkinOf(int32_t row) { return m_pixelSkin[row % 3].data(); }

    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_nCell = 1;  // pixels per cell side
    int32_t m_nCoarseWidth = 0;
    int32_t m_nCoarseHeight = 0;

    // This call's factors (BeautyKernels' TFactors).
    float m_fSmoothing = 0;
    float m_fWhitening = 0;
    float m_fTexture = 0;

    // Coarse grid, m_nCoarseWidth x m_nCoarseHeight each.
    std::vector<float> m_coarseLuma, m_coarseSkin, m_skin;
    std::vector<float> m_mean, m_meanSquare, m_a, m_b, m_meanA, m_meanB;
    TBoxFilter m_box;
    // One coarse row being averaged: byte sums down the cell's rows, then
    // each cell's mean B, G and R.
    std::vector<uint16_t> m_rowSums;
    std::vector<float> m_cellMeans[3];

    // Full width.
    TUpsampledRow m_upsampled[2];
    std::vector<float> m_lumaRows[3];   // rows y - 1, y, y + 1 by row % 3, padded by one each side
    std::vector<float> m_pixelSkin[3];  // alike
    std::vector<float> m_columnSums;    // three luma rows summed, padded alike
    std::vector<int16_t> m_delta;
};

}  // namespace beautyskin
