#pragma once

#include <cstdint>

#include "modules/gxrl/PixLayout.h"
#include "modules/gxrl/TBandScratch.h"

// Every conversion between two format codes, as a table: a direct routine
// where one exists, otherwise a reader of the source into a BGRA band
// followed by a writer of the destination out of it.
//
// libyuv does what involves no colour arithmetic (packing, unpacking,
// interleaving, BGR24 <-> BGRA, the 4:2:2 <-> 4:2:0 chroma steps); every
// YUV <-> RGB step and the full-range mapping are the module's own
// (ColourKernels.h), exact to the rounding where libyuv's rows are not.
// libyuv names formats by their 32-bit word: its "ARGB" is B, G, R, A in
// memory (our BGRA), "RGB24" is B, G, R (our BGR24), "YUY2" is YUYV, "I420"
// and "I422" are planar YUV.

namespace gxrl {

struct TConvertJob {
    TConstPicture src;
    TPicture dst;
    int32_t width;
    int32_t height;
    TBandScratch* scratch;
};

// A routine for the whole picture.
using ConvertFn = void (*)(const TConvertJob& job);
// Rows [row, row + rows) of the source to BGRA; `row` is a multiple of
// kBandRows, `rows` at most kBandRows.
using ReadFn = void (*)(const TConstPicture& src, int32_t row, int32_t rows, int32_t width,
                        uint8_t* bgra, int32_t bgraStride, TBandScratch& scratch);
// BGRA to rows [row, row + rows) of the destination.
using WriteFn = void (*)(const uint8_t* bgra, int32_t bgraStride, int32_t row, int32_t rows,
                         int32_t width, const TPicture& dst, TBandScratch& scratch);

struct TRoute {
    ConvertFn whole = nullptr;
    ReadFn read = nullptr;    // null when the source is BGRA
    WriteFn write = nullptr;  // null when the destination is BGRA
};

// The route for a pair of known codes; every pair has one.
TRoute FindRoute(int32_t srcCode, int32_t dstCode);

void RunRoute(const TRoute& route, const TConvertJob& job);

}  // namespace gxrl
