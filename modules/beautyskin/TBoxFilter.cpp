#include "modules/beautyskin/TBoxFilter.h"

#include <algorithm>
#include <cstddef>
#include <new>

#define BEAUTY_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

namespace beautyskin {

namespace {

constexpr int32_t kTaps = 2 * TBoxFilter::kRadius + 1;

// Samples of the window [i - kRadius, i + kRadius] inside 0..n-1.
int32_t WindowCount(int32_t i, int32_t n) {
    return std::min(i + TBoxFilter::kRadius, n - 1) - std::max(i - TBoxFilter::kRadius, 0) + 1;
}

BEAUTY_VECTOR_CLONES
void SumTaps(const float* __restrict padded, const float* __restrict inverseCounts,
             float* __restrict out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        float sum = 0.0f;
        for (int32_t k = 0; k < kTaps; ++k) sum += padded[x + k];
        out[x] = sum * inverseCounts[x];
    }
}

BEAUTY_VECTOR_CLONES
void AddRow(float* __restrict sums, const float* __restrict row, int32_t width, float sign) {
    for (int32_t x = 0; x < width; ++x) sums[x] += sign * row[x];
}

BEAUTY_VECTOR_CLONES
void ScaleRow(const float* __restrict sums, float scale, float* __restrict out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) out[x] = sums[x] * scale;
}

}  // namespace

bool TBoxFilter::Reserve(int32_t width, int32_t height) {
    if (width == m_nWidth && height == m_nHeight) return true;
    m_nWidth = m_nHeight = 0;
    try {
        m_padded.assign(static_cast<size_t>(width) + 2 * kRadius, 0.0f);
        m_inverseCounts.resize(width);
        m_rows.resize(static_cast<size_t>(width) * height);
        m_columnSums.resize(width);
    } catch (const std::bad_alloc&) { return false; }
    for (int32_t x = 0; x < width; ++x) {
        m_inverseCounts[x] = 1.0f / static_cast<float>(WindowCount(x, width));
    }
    m_nWidth = width;
    m_nHeight = height;
    return true;
}

void TBoxFilter::HorizontalMeans(const float* in, float* out) {
    std::copy(in, in + m_nWidth, m_padded.begin() + kRadius);
    SumTaps(m_padded.data(), m_inverseCounts.data(), out, m_nWidth);
}

void TBoxFilter::Run(const float* in, float* out) {
    const ptrdiff_t w = m_nWidth;
    for (int32_t y = 0; y < m_nHeight; ++y) HorizontalMeans(in + y * w, m_rows.data() + y * w);

    std::fill(m_columnSums.begin(), m_columnSums.end(), 0.0f);
    auto row = [&](int32_t y) { return m_rows.data() + y * w; };
    for (int32_t y = 0; y < std::min(kRadius, m_nHeight); ++y) {
        AddRow(m_columnSums.data(), row(y), m_nWidth, 1.0f);
    }
    for (int32_t y = 0; y < m_nHeight; ++y) {
        if (y + kRadius < m_nHeight) AddRow(m_columnSums.data(), row(y + kRadius), m_nWidth, 1.0f);
        if (y - kRadius - 1 >= 0) {
            AddRow(m_columnSums.data(), row(y - kRadius - 1), m_nWidth, -1.0f);
        }
        const float scale = 1.0f / static_cast<float>(WindowCount(y, m_nHeight));
        ScaleRow(m_columnSums.data(), scale, out + y * w, m_nWidth);
    }
}

}  // namespace beautyskin
