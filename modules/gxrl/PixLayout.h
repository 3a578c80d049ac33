#pragma once

#include <cstddef>
#include <cstdint>

// How the pictures of each format code lie in memory: planes, their row
// lengths and row counts, as FFmpeg lays out the matching format.

namespace gxrl {

constexpr int kMaxPlanes = 3;
constexpr int32_t kMaxSide = 16384;

struct TPlaneShape {
    int32_t rowBytes;  // bytes of picture data in one row
    int32_t rows;
};

struct TPixLayout {
    int planeCount = 0;
    TPlaneShape planes[kMaxPlanes] = {};
};

// Chroma samples of n pixels (or rows) halved: the odd last one has its own.
constexpr int32_t HalfUp(int32_t n) { return (n + 1) / 2; }

bool IsKnownCode(int32_t code);
bool IsValidSize(int32_t width, int32_t height);

// The layout of a known code at a valid size.
TPixLayout LayoutOf(int32_t code, int32_t width, int32_t height);

// Read-only or writable views of one picture as the callers hand it over.
struct TConstPicture {
    const uint8_t* const* planes;
    const int32_t* linesizes;

    const uint8_t* Row(int plane, int32_t row) const {
        return planes[plane] + static_cast<ptrdiff_t>(row) * linesizes[plane];
    }
};

struct TPicture {
    uint8_t* const* planes;
    const int32_t* linesizes;

    uint8_t* Row(int plane, int32_t row) const {
        return planes[plane] + static_cast<ptrdiff_t>(row) * linesizes[plane];
    }
};

// True when every plane the layout needs is present and each line size
// (absolute, to allow bottom-up pictures) holds a whole row.
template <typename Plane>
bool PlanesFit(const TPixLayout& layout, const Plane* planes, const int32_t* linesizes) {
    if (layout.planeCount == 0 || planes == nullptr || linesizes == nullptr) return false;
    for (int plane = 0; plane < layout.planeCount; ++plane) {
        if (planes[plane] == nullptr) return false;
        const int64_t linesize = linesizes[plane];
        if ((linesize < 0 ? -linesize : linesize) < layout.planes[plane].rowBytes) return false;
    }
    return true;
}

}  // namespace gxrl
