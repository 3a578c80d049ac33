#include "modules/gxrl/ConversionRoutes.h"

#include <libyuv.h>

#include <algorithm>
#include <iterator>

#include "modules/ModuleAbi.h"
#include "modules/gxrl/ColourKernels.h"

namespace gxrl {

namespace {

using namespace libyuv;

// Calls step(row, rows) for each band of the picture.
template <typename Step>
void ForEachBand(int32_t height, Step step) {
    for (int32_t row = 0; row < height; row += kBandRows) {
        step(row, std::min(kBandRows, height - row));
    }
}

uint8_t* BandRow(uint8_t* band, int32_t stride, int32_t row) {
    return band + static_cast<ptrdiff_t>(row) * stride;
}

// ---- Readers: source rows to BGRA ------------------------------------------

void ReadBgr24(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
               int32_t stride, TBandScratch&) {
    RGB24ToARGB(s.Row(0, row), s.linesizes[0], bgra, stride, w, rows);
}

// Grey is full range: R = G = B = the sample.
void ReadGray8(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
               int32_t stride, TBandScratch&) {
    J400ToARGB(s.Row(0, row), s.linesizes[0], bgra, stride, w, rows);
}

// Packed 4:2:2 unpacked into the band's planes first.
template <int (*Unpack)(const uint8_t*, int, uint8_t*, int, uint8_t*, int, uint8_t*, int, int, int)>
void ReadPacked422(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
                   int32_t stride, TBandScratch& t) {
    Unpack(s.Row(0, row), s.linesizes[0], t.Y(), t.YStride(), t.U(), t.UvStride(), t.V(),
           t.UvStride(), w, rows);
    for (int32_t r = 0; r < rows; ++r) {
        YuvToBgraRow(TYuvRange::kLimited, BandRow(t.Y(), t.YStride(), r),
                     BandRow(t.U(), t.UvStride(), r), BandRow(t.V(), t.UvStride(), r),
                     BandRow(bgra, stride, r), w);
    }
}

void ReadYuv420p(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
                 int32_t stride, TBandScratch&) {
    for (int32_t r = row; r < row + rows; ++r) {
        YuvToBgraRow(TYuvRange::kLimited, s.Row(0, r), s.Row(1, r / 2), s.Row(2, r / 2),
                     BandRow(bgra, stride, r - row), w);
    }
}

void ReadYuvj422p(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
                  int32_t stride, TBandScratch&) {
    for (int32_t r = row; r < row + rows; ++r) {
        YuvToBgraRow(TYuvRange::kFull, s.Row(0, r), s.Row(1, r), s.Row(2, r),
                     BandRow(bgra, stride, r - row), w);
    }
}

// The band's chroma rows split into planes first; `row` is even.
void ReadNv12(const TConstPicture& s, int32_t row, int32_t rows, int32_t w, uint8_t* bgra,
              int32_t stride, TBandScratch& t) {
    SplitUVPlane(s.Row(1, row / 2), s.linesizes[1], t.U(), t.UvStride(), t.V(), t.UvStride(),
                 HalfUp(w), HalfUp(rows));
    for (int32_t r = 0; r < rows; ++r) {
        YuvToBgraRow(TYuvRange::kLimited, s.Row(0, row + r), BandRow(t.U(), t.UvStride(), r / 2),
                     BandRow(t.V(), t.UvStride(), r / 2), BandRow(bgra, stride, r), w);
    }
}

// ---- Writers: BGRA to destination rows --------------------------------------

using PackFn = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int, uint8_t*, int,
                       int, int);

const uint8_t* BandRow(const uint8_t* band, int32_t stride, int32_t row) {
    return band + static_cast<ptrdiff_t>(row) * stride;
}

// An odd width leaves half of the last pixel pair of a packed 4:2:2 row
// outside the picture; it repeats the last pixel (libyuv writes 0 there).
template <int kLumaOffset>
void RepeatLastPixel(const TPicture& d, int32_t row, int32_t rows, int32_t w) {
    if (w % 2 == 0) return;
    const int32_t last = 4 * (w / 2) + kLumaOffset;
    for (int32_t r = row; r < row + rows; ++r) d.Row(0, r)[last + 2] = d.Row(0, r)[last];
}

template <PackFn Pack, int kLumaOffset>
void PackBand(TBandScratch& t, const TPicture& d, int32_t row, int32_t rows, int32_t w) {
    Pack(t.Y(), t.YStride(), t.U(), t.UvStride(), t.V(), t.UvStride(), d.Row(0, row),
         d.linesizes[0], w, rows);
    RepeatLastPixel<kLumaOffset>(d, row, rows, w);
}

void WriteBgr24(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                const TPicture& d, TBandScratch&) {
    ARGBToRGB24(bgra, stride, d.Row(0, row), d.linesizes[0], w, rows);
}

// Full-range luma, the counterpart of ReadGray8.
void WriteGray8(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                const TPicture& d, TBandScratch&) {
    for (int32_t r = 0; r < rows; ++r) {
        BgraToLumaRow(TYuvRange::kFull, BandRow(bgra, stride, r), d.Row(0, row + r), w);
    }
}

// Each row into the band's planes (chroma of the row alone), then packed.
template <PackFn Pack, int kLumaOffset>
void WritePacked422(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                    const TPicture& d, TBandScratch& t) {
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* line = BandRow(bgra, stride, r);
        BgraToLumaRow(TYuvRange::kLimited, line, BandRow(t.Y(), t.YStride(), r), w);
        BgraToChromaRow(TYuvRange::kLimited, line, line, BandRow(t.U(), t.UvStride(), r),
                        BandRow(t.V(), t.UvStride(), r), w);
    }
    PackBand<Pack, kLumaOffset>(t, d, row, rows, w);
}

// 4:2:0: luma of every row, chroma of each pair of rows (the last row of an
// odd height alone) into chroma row `row / 2 + pair`. `row` is even.
template <typename ChromaRow>
void WriteRows420(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                  const TPicture& d, ChromaRow chromaRow) {
    for (int32_t r = 0; r < rows; r += 2) {
        const uint8_t* upper = BandRow(bgra, stride, r);
        const uint8_t* lower = r + 1 < rows ? BandRow(bgra, stride, r + 1) : upper;
        BgraToLumaRow(TYuvRange::kLimited, upper, d.Row(0, row + r), w);
        if (r + 1 < rows) BgraToLumaRow(TYuvRange::kLimited, lower, d.Row(0, row + r + 1), w);
        uint8_t* u = nullptr;
        uint8_t* v = nullptr;
        chromaRow(r / 2, &u, &v);
        BgraToChromaRow(TYuvRange::kLimited, upper, lower, u, v, w);
    }
}

void WriteYuv420p(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                  const TPicture& d, TBandScratch&) {
    WriteRows420(bgra, stride, row, rows, w, d, [&](int32_t pair, uint8_t** u, uint8_t** v) {
        *u = d.Row(1, row / 2 + pair);
        *v = d.Row(2, row / 2 + pair);
    });
}

// Chroma planar in the band, then interleaved into the destination.
void WriteNv12(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
               const TPicture& d, TBandScratch& t) {
    WriteRows420(bgra, stride, row, rows, w, d, [&](int32_t pair, uint8_t** u, uint8_t** v) {
        *u = BandRow(t.U(), t.UvStride(), pair);
        *v = BandRow(t.V(), t.UvStride(), pair);
    });
    MergeUVPlane(t.U(), t.UvStride(), t.V(), t.UvStride(), d.Row(1, row / 2), d.linesizes[1],
                 HalfUp(w), HalfUp(rows));
}

void WriteYuvj422p(const uint8_t* bgra, int32_t stride, int32_t row, int32_t rows, int32_t w,
                   const TPicture& d, TBandScratch&) {
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* line = BandRow(bgra, stride, r);
        BgraToLumaRow(TYuvRange::kFull, line, d.Row(0, row + r), w);
        BgraToChromaRow(TYuvRange::kFull, line, line, d.Row(1, row + r), d.Row(2, row + r), w);
    }
}

struct TCodec {
    int32_t code;
    ReadFn read;
    WriteFn write;
};

// BGRA itself has neither: it is the band.
constexpr TCodec kCodecs[] = {
    {kPixCodeBgr24, &ReadBgr24, &WriteBgr24},
    {kPixCodeYuyv422, &ReadPacked422<YUY2ToI422>, &WritePacked422<I422ToYUY2, 0>},
    {kPixCodeUyvy422, &ReadPacked422<UYVYToI422>, &WritePacked422<I422ToUYVY, 1>},
    {kPixCodeGray8, &ReadGray8, &WriteGray8},
    {kPixCodeYuv420p, &ReadYuv420p, &WriteYuv420p},
    {kPixCodeYuvj422p, &ReadYuvj422p, &WriteYuvj422p},
    {kPixCodeNv12, &ReadNv12, &WriteNv12},
};

const TCodec* FindCodec(int32_t code) {
    auto it = std::find_if(std::begin(kCodecs), std::end(kCodecs),
                           [code](const TCodec& codec) { return codec.code == code; });
    return it == std::end(kCodecs) ? nullptr : &*it;
}

// ---- Whole-picture routines: between YUV codes, no RGB step ----------------

template <int32_t Code>
void Copy(const TConvertJob& j) {
    const TPixLayout layout = LayoutOf(Code, j.width, j.height);
    for (int plane = 0; plane < layout.planeCount; ++plane) {
        CopyPlane(j.src.planes[plane], j.src.linesizes[plane], j.dst.planes[plane],
                  j.dst.linesizes[plane], layout.planes[plane].rowBytes, layout.planes[plane].rows);
    }
}

void YuyvToNv12(const TConvertJob& j) {
    YUY2ToNV12(j.src.planes[0], j.src.linesizes[0], j.dst.planes[0], j.dst.linesizes[0],
               j.dst.planes[1], j.dst.linesizes[1], j.width, j.height);
}

void Yuv420pToNv12(const TConvertJob& j) {
    I420ToNV12(j.src.planes[0], j.src.linesizes[0], j.src.planes[1], j.src.linesizes[1],
               j.src.planes[2], j.src.linesizes[2], j.dst.planes[0], j.dst.linesizes[0],
               j.dst.planes[1], j.dst.linesizes[1], j.width, j.height);
}

template <int (*Unpack)(const uint8_t*, int, uint8_t*, int, uint8_t*, int, uint8_t*, int, int, int)>
void Packed422ToYuv420p(const TConvertJob& j) {
    Unpack(j.src.planes[0], j.src.linesizes[0], j.dst.planes[0], j.dst.linesizes[0],
           j.dst.planes[1], j.dst.linesizes[1], j.dst.planes[2], j.dst.linesizes[2], j.width,
           j.height);
}

void Nv12ToYuv420p(const TConvertJob& j) {
    NV12ToI420(j.src.planes[0], j.src.linesizes[0], j.src.planes[1], j.src.linesizes[1],
               j.dst.planes[0], j.dst.linesizes[0], j.dst.planes[1], j.dst.linesizes[1],
               j.dst.planes[2], j.dst.linesizes[2], j.width, j.height);
}

template <PackFn Pack, int kLumaOffset>
void Yuv420pToPacked(const TConvertJob& j) {
    Pack(j.src.planes[0], j.src.linesizes[0], j.src.planes[1], j.src.linesizes[1], j.src.planes[2],
         j.src.linesizes[2], j.dst.planes[0], j.dst.linesizes[0], j.width, j.height);
    RepeatLastPixel<kLumaOffset>(j.dst, 0, j.height, j.width);
}

// YUYV <-> UYVY: the two bytes of each luma/chroma couple change places.
void SwapPackedOrder(const TConvertJob& j) {
    static const uint8_t kSwap[16] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};
    ARGBShuffle(j.src.planes[0], j.src.linesizes[0], j.dst.planes[0], j.dst.linesizes[0], kSwap,
                HalfUp(j.width), j.height);
}

// libyuv's UYVY -> NV12 allocates per call: planar chroma through the band.
void UyvyToNv12(const TConvertJob& j) {
    TBandScratch& t = *j.scratch;
    ForEachBand(j.height, [&](int32_t row, int32_t rows) {
        UYVYToI420(j.src.Row(0, row), j.src.linesizes[0], j.dst.Row(0, row), j.dst.linesizes[0],
                   t.U(), t.UvStride(), t.V(), t.UvStride(), j.width, rows);
        MergeUVPlane(t.U(), t.UvStride(), t.V(), t.UvStride(), j.dst.Row(1, row / 2),
                     j.dst.linesizes[1], HalfUp(j.width), HalfUp(rows));
    });
}

// NV12 -> packed 4:2:2: chroma split into the band, then the 4:2:0 packer.
template <PackFn Pack, int kLumaOffset>
void Nv12ToPacked(const TConvertJob& j) {
    TBandScratch& t = *j.scratch;
    ForEachBand(j.height, [&](int32_t row, int32_t rows) {
        SplitUVPlane(j.src.Row(1, row / 2), j.src.linesizes[1], t.U(), t.UvStride(), t.V(),
                     t.UvStride(), HalfUp(j.width), HalfUp(rows));
        Pack(j.src.Row(0, row), j.src.linesizes[0], t.U(), t.UvStride(), t.V(), t.UvStride(),
             j.dst.Row(0, row), j.dst.linesizes[0], j.width, rows);
        RepeatLastPixel<kLumaOffset>(j.dst, row, rows, j.width);
    });
}

// Full-range 4:2:2 planar (a camera's decoded MJPEG) to limited-range packed
// 4:2:2: every sample mapped into the band, then packed.
template <PackFn Pack, int kLumaOffset>
void Yuvj422pToPacked(const TConvertJob& j) {
    TBandScratch& t = *j.scratch;
    const int32_t chromaWidth = HalfUp(j.width);
    ForEachBand(j.height, [&](int32_t row, int32_t rows) {
        for (int32_t r = 0; r < rows; ++r) {
            FullToLimitedLumaRow(j.src.Row(0, row + r), BandRow(t.Y(), t.YStride(), r), j.width);
            FullToLimitedChromaRow(j.src.Row(1, row + r), BandRow(t.U(), t.UvStride(), r),
                                   chromaWidth);
            FullToLimitedChromaRow(j.src.Row(2, row + r), BandRow(t.V(), t.UvStride(), r),
                                   chromaWidth);
        }
        PackBand<Pack, kLumaOffset>(t, j.dst, row, rows, j.width);
    });
}

struct TDirect {
    int32_t src;
    int32_t dst;
    ConvertFn fn;
};

constexpr TDirect kDirect[] = {
    {kPixCodeYuyv422, kPixCodeNv12, &YuyvToNv12},
    {kPixCodeUyvy422, kPixCodeNv12, &UyvyToNv12},
    {kPixCodeYuv420p, kPixCodeNv12, &Yuv420pToNv12},
    {kPixCodeYuyv422, kPixCodeYuv420p, &Packed422ToYuv420p<YUY2ToI420>},
    {kPixCodeUyvy422, kPixCodeYuv420p, &Packed422ToYuv420p<UYVYToI420>},
    {kPixCodeNv12, kPixCodeYuv420p, &Nv12ToYuv420p},
    {kPixCodeYuv420p, kPixCodeYuyv422, &Yuv420pToPacked<I420ToYUY2, 0>},
    {kPixCodeYuv420p, kPixCodeUyvy422, &Yuv420pToPacked<I420ToUYVY, 1>},
    {kPixCodeNv12, kPixCodeYuyv422, &Nv12ToPacked<I420ToYUY2, 0>},
    {kPixCodeNv12, kPixCodeUyvy422, &Nv12ToPacked<I420ToUYVY, 1>},
    {kPixCodeYuyv422, kPixCodeUyvy422, &SwapPackedOrder},
    {kPixCodeUyvy422, kPixCodeYuyv422, &SwapPackedOrder},
    {kPixCodeYuvj422p, kPixCodeYuyv422, &Yuvj422pToPacked<I422ToYUY2, 0>},
    {kPixCodeYuvj422p, kPixCodeUyvy422, &Yuvj422pToPacked<I422ToUYVY, 1>},
};

ConvertFn CopyFor(int32_t code) {
    switch (code) {
        case kPixCodeBgr24:
            return &Copy<kPixCodeBgr24>;
        case kPixCodeBgra:
            return &Copy<kPixCodeBgra>;
        case kPixCodeYuyv422:
            return &Copy<kPixCodeYuyv422>;
        case kPixCodeUyvy422:
            return &Copy<kPixCodeUyvy422>;
        case kPixCodeGray8:
            return &Copy<kPixCodeGray8>;
        case kPixCodeYuv420p:
            return &Copy<kPixCodeYuv420p>;
        case kPixCodeYuvj422p:
            return &Copy<kPixCodeYuvj422p>;
        case kPixCodeNv12:
            return &Copy<kPixCodeNv12>;
        default:
            return nullptr;
    }
}

}  // namespace

// Same code: a copy. A direct routine where the table has one. Otherwise
// through BGRA; between two YUV codes (only the full-range code with YUV420P
// and NV12, either way, and the others into the full-range code) that is a
// YUV -> RGB -> YUV trip: within 2 levels, colours outside the RGB cube
// clipped.
TRoute FindRoute(int32_t srcCode, int32_t dstCode) {
    if (srcCode == dstCode) return {CopyFor(srcCode)};
    for (const TDirect& direct : kDirect) {
        if (direct.src == srcCode && direct.dst == dstCode) return {direct.fn};
    }
    TRoute route;
    if (const TCodec* source = FindCodec(srcCode)) route.read = source->read;
    if (const TCodec* destination = FindCodec(dstCode)) route.write = destination->write;
    return route;
}

void RunRoute(const TRoute& route, const TConvertJob& job) {
    if (route.whole != nullptr) {
        route.whole(job);
        return;
    }
    TBandScratch& scratch = *job.scratch;
    ForEachBand(job.height, [&](int32_t row, int32_t rows) {
        if (route.write == nullptr) {
            // Into BGRA: the reader writes the destination rows themselves.
            route.read(job.src, row, rows, job.width, job.dst.Row(0, row), job.dst.linesizes[0],
                       scratch);
            return;
        }
        const uint8_t* bgra = job.src.Row(0, row);
        int32_t stride = job.src.linesizes[0];
        if (route.read != nullptr) {
            route.read(job.src, row, rows, job.width, scratch.Bgra(), scratch.BgraStride(),
                       scratch);
            bgra = scratch.Bgra();
            stride = scratch.BgraStride();
        }
        route.write(bgra, stride, row, rows, job.width, job.dst, scratch);
    });
}

}  // namespace gxrl
