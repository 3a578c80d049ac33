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

// The whole-row passes, dispatched by CPU (internal linkage: the resolvers of
// external ones would be exported).
__attribute__((target_clones("avx2", "default"))) void BlendTwoRows(
    const uint8_t* __restrict first, const uint8_t* __restrict second, int32_t weight,
    uint16_t* __restrict out, int32_t count) {
    const auto keep = static_cast<uint16_t>(256 - weight);
    const auto take = static_cast<uint16_t>(weight);
    for (int32_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint16_t>(first[i] * keep + second[i] * take);
    }
}

__attribute__((target_clones("avx2", "default"))) void RoundRow(const uint16_t* __restrict blended,
                                                                uint8_t* __restrict dst,
                                                                int32_t count) {
    for (int32_t i = 0; i < count; ++i) dst[i] = static_cast<uint8_t>((blended[i] + 128u) >> 8);
}

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

bool TPlaneResampler::Configure(TRowKind kind, int32_t srcWidth, int32_t srcHeight,
                                int32_t dstWidth, int32_t dstHeight) {
    m_nChannels = ChannelsOf(kind);
    m_nSrcRowBytes = RowBytes(kind, srcWidth);
    m_nDstRowBytes = RowBytes(kind, dstWidth);
    m_bSameWidth = srcWidth == dstWidth;
    try {
        m_rowTaps.resize(static_cast<size_t>(dstHeight));
        m_columnTaps.resize(static_cast<size_t>(m_nChannels != 0 ? dstWidth : m_nDstRowBytes));
        m_blended.resize(static_cast<size_t>(m_nSrcRowBytes));
    } catch (const std::bad_alloc&) { return false; }
    for (int32_t row = 0; row < dstHeight; ++row) {
        m_rowTaps[row] = LinearTap(row, srcHeight, dstHeight);
    }
    BuildColumnTaps(kind, srcWidth, dstWidth);
    return true;
}

// v = first * (256 - w) + second * w, at most 255 * 256.
void TPlaneResampler::BlendRows(const uint8_t* first, const uint8_t* second, int32_t weight) {
    BlendTwoRows(first, second, weight, m_blended.data(), m_nSrcRowBytes);
}

namespace {

// (v[a] * (256 - w) + v[b] * w + 32768) >> 16 for the channels of one tap.
template <int kChannels>
void SampleChannels(const uint16_t* blended, const TPlaneResampler::TTap* taps, uint8_t* dst,
                    int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const auto keep = static_cast<uint32_t>(256 - taps[i].weight);
        const auto take = static_cast<uint32_t>(taps[i].weight);
        const uint16_t* first = blended + taps[i].first * kChannels;
        const uint16_t* second = blended + taps[i].second * kChannels;
        for (int c = 0; c < kChannels; ++c) {
            dst[i * kChannels + c] =
                static_cast<uint8_t>((first[c] * keep + second[c] * take + 32768u) >> 16);
        }
    }
}

}  // namespace

void TPlaneResampler::SampleRow(uint8_t* dst) const {
    const uint16_t* blended = m_blended.data();
    if (m_bSameWidth) {
        RoundRow(blended, dst, m_nDstRowBytes);
        return;
    }
    const TTap* taps = m_columnTaps.data();
    const auto count = static_cast<int32_t>(m_columnTaps.size());
    switch (m_nChannels) {
        case 1:
            return SampleChannels<1>(blended, taps, dst, count);
        case 2:
            return SampleChannels<2>(blended, taps, dst, count);
        case 3:
            return SampleChannels<3>(blended, taps, dst, count);
        case 4:
            return SampleChannels<4>(blended, taps, dst, count);
        default:
            return SampleChannels<1>(blended, taps, dst, count);  // packed: per byte
    }
}

void TPlaneResampler::Run(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                          ptrdiff_t dstStride) {
    for (size_t row = 0; row < m_rowTaps.size(); ++row) {
        const TTap& tap = m_rowTaps[row];
        BlendRows(src + tap.first * srcStride, src + tap.second * srcStride, tap.weight);
        SampleRow(dst + static_cast<ptrdiff_t>(row) * dstStride);
    }
}

}  // namespace gxrl
