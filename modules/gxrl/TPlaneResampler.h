#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modules/gxrl/ResampleKernels.h"

namespace gxrl {

// How the samples of a plane's rows are arranged.
enum class TRowKind {
    kChannels1,  // one 8-bit sample per pixel
    kChannels2,  // interleaved pairs (NV12 chroma)
    kChannels3,  // BGR24
    kChannels4,  // BGRA
    kYuyv,       // packed 4:2:2, Y U Y V per pixel pair
    kUyvy,       // packed 4:2:2, U Y V Y per pixel pair
};

// Bilinear resampling of one plane between two sizes, centre-aligned: the
// destination sample i takes the source position (i + 0.5) * src / dst - 0.5.
// With row weight u and column weight w (in 1/256) each destination byte is
//     (sum of p * (256 - u or u) * (256 - w or w) over the four pixels
//      + 32768) >> 16,
// computed exactly in integers, so the order of the two passes does not
// change a single byte. Shrinking blends each pair of source rows first and
// then samples the blend; enlarging or keeping the height scales each source
// row once into a two-row cache and blends those (a source row serves
// several destination rows). Packed 4:2:2 rows resample luma and chroma each
// on its own grid. Configure makes the tap tables and rows; Run allocates
// nothing.
class TPlaneResampler {
public:
    using TTap = TResampleTap;

    // Sizes are in pixels of this plane. False without memory.
    bool Configure(TRowKind kind, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight);
    void Run(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride);

private:
    static TTap LinearTap(int32_t index, int32_t srcCount, int32_t dstCount);
    void BuildColumnTaps(TRowKind kind, int32_t srcWidth, int32_t dstWidth);
    void BuildNeighbourPixelTaps();

    void RunRowsFirst(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                      ptrdiff_t dstStride);
    void RunColumnsFirst(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                         ptrdiff_t dstStride);
    // The cache slot holding source row `row` scaled, scaling it into a
    // slot other than `keep` when it is not there.
    int ScaledRowSlot(const uint8_t* src, ptrdiff_t srcStride, int32_t row, int keep);
    void ScaleSourceRow(const uint8_t* row, uint16_t* out) const;

    std::vector<TTap> m_rowTaps;  // one per destination row, in source rows
    // One per destination pixel in source pixels for interleaved channels,
    // one per destination byte in source bytes for packed 4:2:2.
    std::vector<TTap> m_columnTaps;
    // The four-channel column taps as byte offsets and weight pairs.
    std::vector<int32_t> m_pixelOffsets;
    std::vector<int16_t> m_pixelWeights;
    std::vector<uint16_t> m_blended;       // rows first: one blended source row
    std::vector<uint16_t> m_scaledRows[2];  // columns first: the row cache
    int32_t m_cachedRows[2] = {-1, -1};
    int m_nChannels = 0;  // 0 for packed 4:2:2
    int32_t m_nSrcRowBytes = 0;
    int32_t m_nDstRowBytes = 0;
    bool m_bSameWidth = false;
    bool m_bColumnsFirst = false;
};

}  // namespace gxrl
