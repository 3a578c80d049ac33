#include "modules/gxrl/TBandScratch.h"

#include <cstddef>
#include <new>

namespace gxrl {

bool TBandScratch::Reserve(int32_t width) {
    // Strides rounded up to 64 bytes keep libyuv's rows aligned.
    auto aligned = [](int32_t bytes) { return (bytes + 63) & ~63; };
    m_nBgraStride = aligned(width * 4);
    m_nYStride = aligned(width);
    m_nUvStride = aligned((width + 1) / 2);
    try {
        m_bgra.resize(static_cast<size_t>(m_nBgraStride) * kBandRows);
        m_y.resize(static_cast<size_t>(m_nYStride) * kBandRows);
        m_u.resize(static_cast<size_t>(m_nUvStride) * kBandRows);
        m_v.resize(static_cast<size_t>(m_nUvStride) * kBandRows);
    } catch (const std::bad_alloc&) { return false; }
    return true;
}

}  // namespace gxrl
