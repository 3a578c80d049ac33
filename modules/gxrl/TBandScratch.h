#pragma once

#include <cstdint>
#include <vector>

namespace gxrl {

// Conversions that take two libyuv steps work on bands of kBandRows rows, so
// the picture between the steps stays in the cache. An even count keeps every
// band but the last on whole 4:2:0 chroma rows.
constexpr int32_t kBandRows = 16;

// The band buffers of one converter, reserved at Configure for the picture
// width: a BGRA band and the three planes of a 4:2:2 band. The readers and
// writers that use the planes (packed 4:2:2, NV12) never meet in one route:
// every pair of them has a direct routine.
class TBandScratch {
public:
    // False when the memory cannot be had.
    bool Reserve(int32_t width);

    uint8_t* Bgra() { return m_bgra.data(); }
    uint8_t* Y() { return m_y.data(); }
    uint8_t* U() { return m_u.data(); }
    uint8_t* V() { return m_v.data(); }
    int32_t BgraStride() const { return m_nBgraStride; }
    int32_t YStride() const { return m_nYStride; }
    int32_t UvStride() const { return m_nUvStride; }

private:
    std::vector<uint8_t> m_bgra, m_y, m_u, m_v;
    int32_t m_nBgraStride = 0;
    int32_t m_nYStride = 0;
    int32_t m_nUvStride = 0;
};

}  // namespace gxrl
