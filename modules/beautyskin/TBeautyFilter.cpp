#include "modules/beautyskin/TBeautyFilter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "modules/beautyskin/BeautyKernels.h"

namespace beautyskin {

namespace {

// About this many cells along the shorter side (1080p: cells of 4 x 4).
constexpr int32_t kCellsAcross = 270;
// eps = (kEdgeLevelsPerStep * smoothing)^2: local contrast well above
// sqrt(eps) grey levels counts as an edge and is kept.
constexpr float kEdgeLevelsPerStep = 2.5f;
// Midtone lift at whitening 10: 0.4 * 127.5 * 127.5 / 255, about 25 levels.
constexpr float kWhiteningPerStep = 0.04f;

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

// Bilinear position of pixel i on the cell grid, centre-aligned.
void CellPosition(int32_t i, int32_t cell, int32_t cells, int32_t* first, float* weight) {
    const float position = (static_cast<float>(i) + 0.5f) / static_cast<float>(cell) - 0.5f;
    if (position <= 0.0f) {
        *first = 0;
        *weight = 0.0f;
        return;
    }
    *first = std::min(static_cast<int32_t>(position), cells - 1);
    *weight = *first == cells - 1 ? 0.0f : position - static_cast<float>(*first);
}

}  // namespace

bool TBeautyFilter::Reserve(int32_t width, int32_t height) {
    if (width == m_nWidth && height == m_nHeight) return true;
    m_nWidth = m_nHeight = 0;
    m_nCell = std::max(1, std::min(width, height) / kCellsAcross);
    m_nCoarseWidth = (width + m_nCell - 1) / m_nCell;
    m_nCoarseHeight = (height + m_nCell - 1) / m_nCell;
    const size_t cells = static_cast<size_t>(m_nCoarseWidth) * m_nCoarseHeight;
    const size_t paddedWidth = static_cast<size_t>(width) + 2;
    try {
        for (auto* plane : {&m_coarseLuma, &m_coarseSkin, &m_skin, &m_mean, &m_meanSquare, &m_a,
                            &m_b, &m_meanA, &m_meanB}) {
            plane->assign(cells, 0.0f);
        }
        if (!m_box.Reserve(m_nCoarseWidth, m_nCoarseHeight)) return false;
        m_rowSums.assign(static_cast<size_t>(width) * 3, 0);
        for (auto& means : m_cellMeans) means.assign(m_nCoarseWidth, 0.0f);
        for (TUpsampledRow& row : m_upsampled) {
            row.a.assign(width, 0.0f);
            row.b.assign(width, 0.0f);
            row.skin.assign(width, 0.0f);
        }
        for (auto& row : m_lumaRows) row.assign(paddedWidth, 0.0f);
        for (auto& row : m_pixelSkin) row.assign(width, 0.0f);
        m_columnSums.assign(paddedWidth, 0.0f);
        m_delta.assign(width, 0);
    } catch (const std::bad_alloc&) { return false; }
    m_nWidth = width;
    m_nHeight = height;
    return true;
}

// Each cell's mean colour gives its luma and its skin weight.
void TBeautyFilter::AverageCells(const uint8_t* src, int32_t linesize) {
    for (int32_t cy = 0; cy < m_nCoarseHeight; ++cy) {
        const int32_t top = cy * m_nCell;
        const int32_t bottom = std::min(top + m_nCell, m_nHeight);
        std::fill(m_rowSums.begin(), m_rowSums.end(), uint16_t{0});
        for (int32_t y = top; y < bottom; ++y) {
            AccumulateRow(m_rowSums.data(), src + static_cast<ptrdiff_t>(y) * linesize,
                          m_nWidth * 3);
        }
        for (int32_t cx = 0; cx < m_nCoarseWidth; ++cx) {
            const int32_t left = cx * m_nCell;
            const int32_t right = std::min(left + m_nCell, m_nWidth);
            uint32_t sum[3] = {};
            for (int32_t x = left; x < right; ++x) {
                for (int c = 0; c < 3; ++c) sum[c] += m_rowSums[3 * x + c];
            }
            const float scale = 1.0f / static_cast<float>((bottom - top) * (right - left));
            for (int c = 0; c < 3; ++c) m_cellMeans[c][cx] = static_cast<float>(sum[c]) * scale;
        }
        const size_t first = static_cast<size_t>(cy) * m_nCoarseWidth;
        CellLumaAndSkin(m_cellMeans[0].data(), m_cellMeans[1].data(), m_cellMeans[2].data(),
                        m_coarseLuma.data() + first, m_coarseSkin.data() + first, m_nCoarseWidth);
    }
}

// Self-guided filter (guide = input = the cell luma I), per window:
//   a = var(I) / (var(I) + eps),  b = (1 - a) * mean(I)
// and the coefficients averaged over the windows covering each cell.
void TBeautyFilter::SolveGuidedFilter(float eps) {
    m_box.Run(m_coarseLuma.data(), m_mean.data());
    for (size_t i = 0; i < m_coarseLuma.size(); ++i) m_a[i] = m_coarseLuma[i] * m_coarseLuma[i];
    m_box.Run(m_a.data(), m_meanSquare.data());
    for (size_t i = 0; i < m_mean.size(); ++i) {
        const float variance = std::max(m_meanSquare[i] - m_mean[i] * m_mean[i], 0.0f);
        m_a[i] = variance / (variance + eps);
        m_b[i] = (1.0f - m_a[i]) * m_mean[i];
    }
    m_box.Run(m_a.data(), m_meanA.data());
    m_box.Run(m_b.data(), m_meanB.data());
}

// Into the slot that does not hold `keep`.
void TBeautyFilter::FillUpsampled(int32_t coarseRow, int32_t keep) {
    TUpsampledRow& row = m_upsampled[0].coarseRow == keep ? m_upsampled[1] : m_upsampled[0];
    const size_t base = static_cast<size_t>(coarseRow) * m_nCoarseWidth;
    UpsampleRow(m_meanA.data() + base, m_nCoarseWidth, m_nCell, row.a.data(), m_nWidth);
    UpsampleRow(m_meanB.data() + base, m_nCoarseWidth, m_nCell, row.b.data(), m_nWidth);
    UpsampleRow(m_skin.data() + base, m_nCoarseWidth, m_nCell, row.skin.data(), m_nWidth);
    row.coarseRow = coarseRow;
}

const TBeautyFilter::TUpsampledRow* TBeautyFilter::FindUpsampled(int32_t coarseRow) const {
    for (const TUpsampledRow& row : m_upsampled) {
        if (row.coarseRow == coarseRow) return &row;
    }
    return nullptr;
}

// Luma (padded by repeating the edge pixels) and skin weight of a row.
void TBeautyFilter::PrepareRow(const uint8_t* src, int32_t row) {
    float* luma = LumaOf(row);
    LumaAndSkinRow(src, luma, SkinOf(row), m_nWidth);
    luma[-1] = luma[0];
    luma[m_nWidth] = luma[m_nWidth - 1];
}

void TBeautyFilter::FilterRow(const uint8_t* src, uint8_t* dst, int32_t row) {
    int32_t upperRow = 0;
    float weight = 0.0f;
    CellPosition(row, m_nCell, m_nCoarseHeight, &upperRow, &weight);
    const int32_t lowerRow = std::min(upperRow + 1, m_nCoarseHeight - 1);
    if (FindUpsampled(upperRow) == nullptr) FillUpsampled(upperRow, lowerRow);
    if (FindUpsampled(lowerRow) == nullptr) FillUpsampled(lowerRow, upperRow);
    const TUpsampledRow& upper = *FindUpsampled(upperRow);
    const TUpsampledRow& lower = *FindUpsampled(lowerRow);

    const float* above = LumaOf(row > 0 ? row - 1 : row);
    const float* below = LumaOf(row + 1 < m_nHeight ? row + 1 : row);
    SumThreeRows(above - 1, LumaOf(row) - 1, below - 1, m_columnSums.data(), m_nWidth + 2);
    const TRowInputs inputs{LumaOf(row),
                            m_columnSums.data() + 1,
                            {upper.a.data(), lower.a.data()},
                            {upper.b.data(), lower.b.data()},
                            {upper.skin.data(), lower.skin.data()},
                            SkinOf(row),
                            weight};
    DeltaOfRow(inputs, {m_fSmoothing, m_fTexture, m_fWhitening}, m_delta.data(), m_nWidth);
    AddDelta(src, m_delta.data(), dst, m_nWidth);
}

bool TBeautyFilter::Apply(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                          int32_t linesize, const TBeautyStrengths& strengths) {
    const int32_t smoothing = Clamp(strengths.smoothing, 0, 10);
    const int32_t whitening = Clamp(strengths.whitening, 0, 10);
    if (smoothing == 0 && whitening == 0) {
        if (src != dst) {
            for (int32_t y = 0; y < height; ++y) {
                const ptrdiff_t offset = static_cast<ptrdiff_t>(y) * linesize;
                std::memmove(dst + offset, src + offset, static_cast<size_t>(width) * 3);
            }
        }
        return true;
    }
    if (!Reserve(width, height)) return false;
    m_fSmoothing = static_cast<float>(smoothing) / 10.0f;
    m_fWhitening = static_cast<float>(whitening) * kWhiteningPerStep;
    m_fTexture = static_cast<float>(Clamp(strengths.texture, 0, 10)) / 10.0f;

    // Everything read from the whole source happens before the first row is
    // written, so src may be dst.
    AverageCells(src, linesize);
    // Without smoothing the coefficients are multiplied by 0: not solved.
    if (smoothing > 0) {
        const float levels = kEdgeLevelsPerStep * static_cast<float>(smoothing);
        SolveGuidedFilter(levels * levels);
    }
    m_box.Run(m_coarseSkin.data(), m_skin.data());
    for (TUpsampledRow& row : m_upsampled) row.coarseRow = -1;

    // Row y + 1 is read before row y is written.
    auto srcRow = [&](int32_t y) { return src + static_cast<ptrdiff_t>(y) * linesize; };
    PrepareRow(srcRow(0), 0);
    for (int32_t y = 0; y < height; ++y) {
        if (y + 1 < height) PrepareRow(srcRow(y + 1), y + 1);
        FilterRow(srcRow(y), dst + static_cast<ptrdiff_t>(y) * linesize, y);
    }
    return true;
}

}  // namespace beautyskin
