#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
// Rows are blended first into a 16-bit row, x256, then each destination byte
// takes its two neighbours of that row:
//     out = (v[a] * (256 - w) + v[b] * w + 32768) >> 16,   w in 1/256.
// Packed 4:2:2 rows resample luma and chroma each on its own grid. The tap
// tables and the blended row are made by Configure; Run allocates nothing.
class TPlaneResampler {
public:
    // Sizes are in pixels of this plane. False without memory.
    bool Configure(TRowKind kind, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight);
    void Run(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride);

    // Two neighbouring source samples and the weight of the second.
    struct TTap {
        int32_t first;
        int32_t second;
        int32_t weight;  // of `second`, in 1/256
    };

private:
    static TTap LinearTap(int32_t index, int32_t srcCount, int32_t dstCount);
    void BuildColumnTaps(TRowKind kind, int32_t srcWidth, int32_t dstWidth);
    void BlendRows(const uint8_t* first, const uint8_t* second, int32_t weight);
    void SampleRow(uint8_t* dst) const;

    std::vector<TTap> m_rowTaps;  // one per destination row, in source rows
    // One per destination pixel in source pixels for interleaved channels,
    // one per destination byte in source bytes for packed 4:2:2.
    std::vector<TTap> m_columnTaps;
    std::vector<uint16_t> m_blended;
    int m_nChannels = 0;  // 0 for packed 4:2:2
    int32_t m_nSrcRowBytes = 0;
    int32_t m_nDstRowBytes = 0;
    bool m_bSameWidth = false;
};

}  // namespace gxrl
