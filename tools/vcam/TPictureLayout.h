#pragma once

#include <cstddef>
#include <cstdint>

namespace pelorn::vcam {

// AVPixelFormat values of the pictures qndl-vcam reads and writes. The
// engine writes the packed ones (YUYV, BGR24, BGRA) into the block.
enum : int {
    kAvYuv420p = 0,
    kAvYuyv422 = 1,
    kAvRgb24 = 2,
    kAvBgr24 = 3,
    kAvNv12 = 23,
    kAvBgra = 28,
};

constexpr int kMaxPlanes = 3;

// The colour-conversion module's code for the same bytes, 0 for none. RGB24
// has none of its own and maps to BGR24.
int32_t ModuleCodeOf(int format);

// Where each plane of one picture lies in a buffer.
struct TPictureLayout {
    int planeCount = 0;  // 0: a format qndl-vcam does not handle
    size_t offset[kMaxPlanes] = {};
    size_t stride[kMaxPlanes] = {};
    size_t rowBytes[kMaxPlanes] = {};  // picture bytes in one row
    int rows[kMaxPlanes] = {};
    size_t bytes = 0;  // the whole picture, padding included
};

// The layout of a width x height picture of `format`. lineBytes 0: every
// plane's rows packed, as FFmpeg and y4m lay them out (YUYV rows hold
// (width + 1) / 2 pairs, chroma of 4:2:0 (height + 1) / 2 rows). Otherwise
// the single-buffer V4L2 layout: the first plane's lines are lineBytes long,
// I420's U and V lines half of that, NV12's UV lines as long.
TPictureLayout LayoutOf(int format, int width, int height, size_t lineBytes = 0);

// The plane pointers of a picture laid out as `layout` at `base`.
void PlanePointers(const TPictureLayout& layout, uint8_t* base, uint8_t* planes[kMaxPlanes],
                   int32_t linesizes[kMaxPlanes]);

}  // namespace pelorn::vcam
