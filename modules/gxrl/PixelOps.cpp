#include "modules/gxrl/PixelOps.h"

#include <cstddef>
#include <cstring>

#include "modules/gxrl/VectorClones.h"

namespace gxrl {

namespace {

// Rounded x / 255 for 0 <= x <= 255 * 255, in 16 bits: with y = x + 128,
// (y + (y >> 8)) >> 8. Exact over that whole range.
inline uint16_t DivideBy255(uint16_t x) {
    const auto y = static_cast<uint16_t>(x + 128);
    return static_cast<uint16_t>((y + (y >> 8)) >> 8);
}

GXRL_VECTOR_CLONES
void BlendRow(const uint8_t* fg, const uint8_t* bg, const uint8_t* mask, uint8_t* dst,
              int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const uint16_t opacity = mask[x];
        const auto rest = static_cast<uint16_t>(255 - opacity);
        for (int c = 0; c < 3; ++c) {
            const int32_t i = 3 * x + c;
            dst[i] = static_cast<uint8_t>(
                DivideBy255(static_cast<uint16_t>(fg[i] * opacity + bg[i] * rest)));
        }
    }
}

// Whole pixels as 32-bit words (memcpy keeps it free of alignment and
// aliasing assumptions; the compiler turns it into vector loads).
GXRL_VECTOR_CLONES
void FillAlphaRow(const uint8_t* src, uint8_t* dst, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, src + 4 * x, 4);
        pixel |= 0xFF000000u;
        std::memcpy(dst + 4 * x, &pixel, 4);
    }
}

template <typename T>
T* RowOf(T* plane, int32_t linesize, int32_t row) {
    return plane + static_cast<ptrdiff_t>(row) * linesize;
}

}  // namespace

void BlendBgr24(const uint8_t* fg, int32_t fgLinesize, const uint8_t* bg, int32_t bgLinesize,
                uint8_t* dst, int32_t dstLinesize, const uint8_t* mask, int32_t maskLinesize,
                int32_t width, int32_t height) {
    for (int32_t row = 0; row < height; ++row) {
        BlendRow(RowOf(fg, fgLinesize, row), RowOf(bg, bgLinesize, row),
                 RowOf(mask, maskLinesize, row), RowOf(dst, dstLinesize, row), width);
    }
}

void FillAlpha(const uint8_t* src, int32_t srcLinesize, uint8_t* dst, int32_t dstLinesize,
               int32_t width, int32_t height) {
    for (int32_t row = 0; row < height; ++row) {
        FillAlphaRow(RowOf(src, srcLinesize, row), RowOf(dst, dstLinesize, row), width);
    }
}

}  // namespace gxrl
