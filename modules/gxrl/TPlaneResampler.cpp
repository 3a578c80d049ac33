#include "modules/gxrl/TPlaneResampler.h"

#include <algorithm>
#include <new>

#include "modules/gxrl/PixLayout.h"

namespace gxrl {

namespace {

int ChannelsOf(TRowKind kind) {
    switch (kind) {
        case TRowKind::kChannels1:
            return 1;
        case TRowKind::kChannels2:
            return 2;
        case TRowKind::kChannels3:
            return 3;
        case TRowKind::kChannels4:
            return 4;
        default:
            return 0;
    }
}

int32_t RowBytes(TRowKind kind, int32_t width) {
    const int channels = ChannelsOf(kind);
    return channels != 0 ? width * channels : HalfUp(width) * 4;
}

// Byte positions inside a packed 4:2:2 pixel pair.
struct TPairOrder {
    int luma[2];
    int u;
    int v;
};

constexpr TPairOrder kYuyvOrder = {{0, 2}, 1, 3};
constexpr TPairOrder kUyvyOrder = {{1, 3}, 0, 2};

}  // namespace

// Integer form of the centre-aligned position: position * 2 * dstCount =
// (2 * index + 1) * srcCount - dstCount.
TPlaneResampler::TTap TPlaneResampler::LinearTap(int32_t index, int32_t srcCount,
                                                 int32_t dstCount) {
    const int64_t scaled = (2 * static_cast<int64_t>(index) + 1) * srcCount - dstCount;
    const int64_t unit = 2 * static_cast<int64_t>(dstCount);
    if (scaled <= 0) return {0, 0, 0};
    int32_t first = static_cast<int32_t>(scaled / unit);
    int32_t weight = static_cast<int32_t>(((scaled % unit) * 256 + dstCount) / unit);
    if (weight == 256) {
        ++first;
        weight = 0;
    }
    if (first >= srcCount - 1) return {srcCount - 1, srcCount - 1, 0};
    return {first, first + 1, weight};
}

void TPlaneResampler::BuildColumnTaps(TRowKind kind, int32_t srcWidth, int32_t dstWidth) {
    if (ChannelsOf(kind) != 0) {
        for (int32_t x = 0; x < dstWidth; ++x) m_columnTaps[x] = LinearTap(x, srcWidth, dstWidth);
        return;
    }
    const TPairOrder& order = kind == TRowKind::kYuyv ? kYuyvOrder : kUyvyOrder;
    auto lumaByte = [&order](int32_t x) { return 4 * (x / 2) + order.luma[x % 2]; };
    const int32_t srcPairs = HalfUp(srcWidth);
    const int32_t dstPairs = HalfUp(dstWidth);
    for (int32_t pair = 0; pair < dstPairs; ++pair) {
        const int32_t base = 4 * pair;
        for (int half = 0; half < 2; ++half) {
            // An odd width pads its last pair with a copy of the last pixel.
            const int32_t x = std::min(2 * pair + half, dstWidth - 1);
            const TTap tap = LinearTap(x, srcWidth, dstWidth);
            m_columnTaps[base + order.luma[half]] = {lumaByte(tap.first), lumaByte(tap.second),
                                                     tap.weight};
        }
        const TTap tap = LinearTap(pair, srcPairs, dstPairs);
        m_columnTaps[base + order.u] = {4 * tap.first + order.u, 4 * tap.second + order.u,
                                        tap.weight};
        m_columnTaps[base + order.v] = {4 * tap.first + order.v, 4 * tap.second + order.v,
                                        tap.weight};
    }
}

// An edge tap (a, a, 0) reads the same as (a, a + 1, 0) or, at the right
// edge, (a - 1, a, 256): so every pair is eight adjacent bytes.
void TPlaneResampler::BuildNeighbourPixelTaps() {
    const int32_t last = m_nSrcRowBytes / 4 - 1;
    for (size_t x = 0; x < m_columnTaps.size(); ++x) {
        TTap tap = m_columnTaps[x];
        if (tap.second != tap.first + 1) {
            tap = tap.first < last ? TTap{tap.first, tap.first + 1, 0} : TTap{last - 1, last, 256};
        }
        m_pixelOffsets[x] = 4 * tap.first;
        for (int c = 0; c < 4; ++c) {
            m_pixelWeights[8 * x + 2 * c] = static_cast<int16_t>(256 - tap.weight);
            m_pixelWeights[8 * x + 2 * c + 1] = static_cast<int16_t>(tap.weight);
        }
    }
}

bool TPlaneResampler::Configure(TRowKind kind, int32_t srcWidth, int32_t srcHeight,
                                int32_t dstWidth, int32_t dstHeight) {
    m_nChannels = ChannelsOf(kind);
    m_nSrcRowBytes = RowBytes(kind, srcWidth);
    m_nDstRowBytes = RowBytes(kind, dstWidth);
    m_bSameWidth = srcWidth == dstWidth;
    m_bColumnsFirst = dstHeight >= srcHeight;
    const bool neighbourPixels =
        m_bColumnsFirst && m_nChannels == 4 && !m_bSameWidth && srcWidth >= 2;
    const auto columnTaps = static_cast<size_t>(m_nChannels != 0 ? dstWidth : m_nDstRowBytes);
    try {
        m_rowTaps.resize(static_cast<size_t>(dstHeight));
        m_columnTaps.resize(columnTaps);
        m_pixelOffsets.resize(neighbourPixels ? columnTaps : 0);
        m_pixelWeights.resize(neighbourPixels ? 8 * columnTaps : 0);
        m_blended.resize(m_bColumnsFirst ? 0 : static_cast<size_t>(m_nSrcRowBytes));
        for (std::vector<uint16_t>& row : m_scaledRows) {
            row.resize(m_bColumnsFirst ? static_cast<size_t>(m_nDstRowBytes) : 0);
        }
    } catch (const std::bad_alloc&) { return false; }
    for (int32_t row = 0; row < dstHeight; ++row) {
        m_rowTaps[row] = LinearTap(row, srcHeight, dstHeight);
    }
    BuildColumnTaps(kind, srcWidth, dstWidth);
    if (neighbourPixels) BuildNeighbourPixelTaps();
    return true;
}

void TPlaneResampler::RunRowsFirst(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                   ptrdiff_t dstStride) {
    const auto taps = static_cast<int32_t>(m_columnTaps.size());
    for (size_t row = 0; row < m_rowTaps.size(); ++row) {
        const TTap& tap = m_rowTaps[row];
        BlendByteRows(src + tap.first * srcStride, src + tap.second * srcStride, tap.weight,
                      m_blended.data(), m_nSrcRowBytes);
        uint8_t* out = dst + static_cast<ptrdiff_t>(row) * dstStride;
        if (m_bSameWidth) {
            RoundBlendedRow(m_blended.data(), out, m_nDstRowBytes);
        } else {
            SampleBlendedRow(m_nChannels, m_blended.data(), m_columnTaps.data(), out, taps);
        }
    }
}

void TPlaneResampler::ScaleSourceRow(const uint8_t* row, uint16_t* out) const {
    if (m_bSameWidth) return WidenByteRow(row, out, m_nDstRowBytes);
    const auto taps = static_cast<int32_t>(m_columnTaps.size());
    if (!m_pixelOffsets.empty()) {
        return ScaleNeighbourPixelRow(row, m_pixelOffsets.data(), m_pixelWeights.data(), out,
                                      taps);
    }
    ScaleByteRow(m_nChannels, row, m_columnTaps.data(), out, taps);
}

int TPlaneResampler::ScaledRowSlot(const uint8_t* src, ptrdiff_t srcStride, int32_t row,
                                   int keep) {
    for (int slot = 0; slot < 2; ++slot) {
        if (m_cachedRows[slot] == row) return slot;
    }
    // Rows are asked for in rising order: the lower cached one is done with.
    const int slot = keep >= 0 ? 1 - keep : (m_cachedRows[0] <= m_cachedRows[1] ? 0 : 1);
    ScaleSourceRow(src + row * srcStride, m_scaledRows[slot].data());
    m_cachedRows[slot] = row;
    return slot;
}

void TPlaneResampler::RunColumnsFirst(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                      ptrdiff_t dstStride) {
    m_cachedRows[0] = m_cachedRows[1] = -1;
    for (size_t row = 0; row < m_rowTaps.size(); ++row) {
        const TTap& tap = m_rowTaps[row];
        const int first = ScaledRowSlot(src, srcStride, tap.first, -1);
        const int second = tap.weight == 0 ? first : ScaledRowSlot(src, srcStride, tap.second, first);
        BlendScaledRows(m_scaledRows[first].data(), m_scaledRows[second].data(), tap.weight,
                        dst + static_cast<ptrdiff_t>(row) * dstStride, m_nDstRowBytes);
    }
}

void TPlaneResampler::Run(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                          ptrdiff_t dstStride) {
    if (m_bColumnsFirst) {
        RunColumnsFirst(src, srcStride, dst, dstStride);
    } else {
        RunRowsFirst(src, srcStride, dst, dstStride);
    }
}

}  // namespace gxrl
