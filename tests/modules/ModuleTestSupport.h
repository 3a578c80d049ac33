#pragma once

// Loading the run-time modules by path and handling pictures of their
// format codes in tests and benchmarks. Plane layouts come from FFmpeg's own
// image functions, independent of the module's.

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "modules/ModuleAbi.h"

namespace moduletest {

// One dlopen of a module file; entry points by ordinal.
class TModuleHandle {
public:
    explicit TModuleHandle(const char* path) : m_pHandle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~TModuleHandle() {
        if (m_pHandle != nullptr) dlclose(m_pHandle);
    }
    TModuleHandle(const TModuleHandle&) = delete;
    TModuleHandle& operator=(const TModuleHandle&) = delete;

    bool IsLoaded() const { return m_pHandle != nullptr; }

    template <typename Fn>
    Fn Entry(int ordinal) const {
        if (m_pHandle == nullptr) return nullptr;
        return reinterpret_cast<Fn>(
            dlsym(m_pHandle, ("Ordinal" + std::to_string(ordinal)).c_str()));
    }

private:
    void* m_pHandle;
};

// Releases a converter or scaler made by the module.
template <typename T>
struct TReleaser {
    void operator()(T* object) const {
        if (object != nullptr) object->Release();
    }
};

struct TCodeFormat {
    AVPixelFormat format;
    bool fullRange;
};

inline TCodeFormat FormatOfCode(int32_t code) {
    switch (code) {
        case kPixCodeBgr24:
            return {AV_PIX_FMT_BGR24, true};
        case kPixCodeBgra:
            return {AV_PIX_FMT_BGRA, true};
        case kPixCodeYuyv422:
            return {AV_PIX_FMT_YUYV422, false};
        case kPixCodeUyvy422:
            return {AV_PIX_FMT_UYVY422, false};
        case kPixCodeGray8:
            return {AV_PIX_FMT_GRAY8, true};
        case kPixCodeYuv420p:
            return {AV_PIX_FMT_YUV420P, false};
        case kPixCodeYuvj422p:
            return {AV_PIX_FMT_YUV422P, true};
        case kPixCodeNv12:
            return {AV_PIX_FMT_NV12, false};
        default:
            return {AV_PIX_FMT_NONE, false};
    }
}

inline bool IsYuvCode(int32_t code) {
    return code != kPixCodeBgr24 && code != kPixCodeBgra && code != kPixCodeGray8;
}

// A picture of one format code with `padding` spare bytes after every row,
// filled with kSentinel so that a test can see writes past a row.
class TPictureBuffer {
public:
    static constexpr uint8_t kSentinel = 0xA5;
    static constexpr size_t kSlack = 64;

    TPictureBuffer(int32_t code, int32_t width, int32_t height, int32_t padding = 0)
        : m_nCode(code), m_nWidth(width), m_nHeight(height) {
        const AVPixelFormat format = FormatOfCode(code).format;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        int rowBytes[4] = {};
        av_image_fill_linesizes(rowBytes, format, width);
        m_nPlanes = av_pix_fmt_count_planes(format);
        for (int plane = 0; plane < m_nPlanes; ++plane) {
            const bool chroma = plane == 1 || plane == 2;
            m_rowBytes[plane] = rowBytes[plane];
            m_rows[plane] = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
            m_linesizes[plane] = rowBytes[plane] + padding;
            // libswscale, the reference, reads and writes a little past the
            // last row: slack after it.
            m_storage[plane].assign(
                static_cast<size_t>(m_linesizes[plane]) * m_rows[plane] + kSlack, kSentinel);
            m_planes[plane] = m_storage[plane].data();
            m_constPlanes[plane] = m_planes[plane];
        }
    }
    TPictureBuffer(const TPictureBuffer&) = delete;
    TPictureBuffer& operator=(const TPictureBuffer&) = delete;

    int32_t Code() const { return m_nCode; }
    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    int PlaneCount() const { return m_nPlanes; }
    int32_t RowBytes(int plane) const { return m_rowBytes[plane]; }
    int32_t Rows(int plane) const { return m_rows[plane]; }

    uint8_t* const* Planes() { return m_planes; }
    const uint8_t* const* ConstPlanes() const { return m_constPlanes; }
    const int32_t* Linesizes() const { return m_linesizes; }

    uint8_t* Row(int plane, int32_t row) {
        return m_planes[plane] + static_cast<size_t>(row) * m_linesizes[plane];
    }
    const uint8_t* Row(int plane, int32_t row) const {
        return m_planes[plane] + static_cast<size_t>(row) * m_linesizes[plane];
    }
    uint8_t& At(int plane, int32_t row, int32_t byte) { return Row(plane, row)[byte]; }
    uint8_t At(int plane, int32_t row, int32_t byte) const { return Row(plane, row)[byte]; }

    // True when no byte after the rows' data changed.
    bool PaddingIntact() const {
        for (int plane = 0; plane < m_nPlanes; ++plane) {
            for (int32_t row = 0; row < m_rows[plane]; ++row) {
                const uint8_t* r = Row(plane, row);
                for (int32_t i = m_rowBytes[plane]; i < m_linesizes[plane]; ++i) {
                    if (r[i] != kSentinel) return false;
                }
            }
        }
        return true;
    }

    // False for the luma byte that an odd width leaves outside the picture in
    // the last pixel pair of a packed 4:2:2 row.
    bool IsPictureByte(int32_t byte) const {
        if (m_nWidth % 2 == 0) return true;
        const int32_t lastPair = 4 * (m_nWidth / 2);
        if (m_nCode == kPixCodeYuyv422) return byte != lastPair + 2;
        if (m_nCode == kPixCodeUyvy422) return byte != lastPair + 3;
        return true;
    }

    // Largest difference of the picture bytes of two pictures of one layout.
    int MaxDifference(const TPictureBuffer& other) const {
        int worst = 0;
        for (int plane = 0; plane < m_nPlanes; ++plane) {
            for (int32_t row = 0; row < m_rows[plane]; ++row) {
                for (int32_t i = 0; i < m_rowBytes[plane]; ++i) {
                    if (!IsPictureByte(i)) continue;
                    worst = std::max(worst, std::abs(At(plane, row, i) - other.At(plane, row, i)));
                }
            }
        }
        return worst;
    }

    // Where the largest difference is, for failure messages.
    std::string WhereMaxDifference(const TPictureBuffer& other) const {
        int worst = -1;
        std::string where;
        for (int plane = 0; plane < m_nPlanes; ++plane) {
            for (int32_t row = 0; row < m_rows[plane]; ++row) {
                for (int32_t i = 0; i < m_rowBytes[plane]; ++i) {
                    if (!IsPictureByte(i)) continue;
                    const int a = At(plane, row, i), b = other.At(plane, row, i);
                    if (std::abs(a - b) > worst) {
                        worst = std::abs(a - b);
                        where = "plane " + std::to_string(plane) + " row " + std::to_string(row) +
                                " byte " + std::to_string(i) + ": " + std::to_string(a) + " vs " +
                                std::to_string(b);
                    }
                }
            }
        }
        return where;
    }

private:
    int32_t m_nCode;
    int32_t m_nWidth;
    int32_t m_nHeight;
    int m_nPlanes = 0;
    std::vector<uint8_t> m_storage[4];
    uint8_t* m_planes[4] = {};
    const uint8_t* m_constPlanes[4] = {};
    int32_t m_linesizes[4] = {};
    int32_t m_rowBytes[4] = {};
    int32_t m_rows[4] = {};
};

// Component 0 (Y), 1 (U) or 2 (V) of a YUV picture at the pixel (x, y):
// the chroma sample that covers the pixel.
inline int YuvSample(const TPictureBuffer& p, int component, int32_t x, int32_t y) {
    const int32_t pair = x / 2;
    switch (p.Code()) {
        case kPixCodeYuyv422: {
            const int32_t offsets[3] = {2 * x, 4 * pair + 1, 4 * pair + 3};
            return p.At(0, y, offsets[component]);
        }
        case kPixCodeUyvy422: {
            const int32_t offsets[3] = {2 * x + 1, 4 * pair, 4 * pair + 2};
            return p.At(0, y, offsets[component]);
        }
        case kPixCodeYuv420p:
            return component == 0 ? p.At(0, y, x) : p.At(component, y / 2, pair);
        case kPixCodeYuvj422p:
            return component == 0 ? p.At(0, y, x) : p.At(component, y, pair);
        case kPixCodeNv12:
            return component == 0 ? p.At(0, y, x) : p.At(1, y / 2, 2 * pair + component - 1);
        default:
            return p.At(0, y, x);  // grey
    }
}

// 0, 1, ..., period, period - 1, ..., 0, ...: a ramp without jumps.
inline int Triangle(int v, int period) { return std::abs(v % (2 * period) - period); }

// A smooth, in-gamut BGR picture: every channel changes by about one level
// per pixel at most, so chroma subsampling loses next to nothing.
inline void FillSmoothBgr(TPictureBuffer& picture, int bytesPerPixel) {
    for (int32_t y = 0; y < picture.Height(); ++y) {
        uint8_t* row = picture.Row(0, y);
        for (int32_t x = 0; x < picture.Width(); ++x) {
            row[x * bytesPerPixel + 0] = static_cast<uint8_t>(60 + Triangle(x * 3 / 4, 120));
            row[x * bytesPerPixel + 1] = static_cast<uint8_t>(70 + Triangle(y * 3 / 4, 110));
            row[x * bytesPerPixel + 2] = static_cast<uint8_t>(80 + Triangle((x + y) / 3, 100));
            if (bytesPerPixel == 4) row[x * 4 + 3] = 255;
        }
    }
}

// The same conversion by libswscale at the same size, as a reference. The
// ranges are set before the context is initialised: set afterwards, the
// plain YUV -> YUV copies ignore them.
inline void ConvertWithSwscale(const TPictureBuffer& src, TPictureBuffer& dst) {
    const TCodeFormat from = FormatOfCode(src.Code());
    const TCodeFormat to = FormatOfCode(dst.Code());
    SwsContext* context = sws_alloc_context();
    av_opt_set_int(context, "srcw", src.Width(), 0);
    av_opt_set_int(context, "srch", src.Height(), 0);
    av_opt_set_int(context, "src_format", from.format, 0);
    av_opt_set_int(context, "src_range", from.fullRange ? 1 : 0, 0);
    av_opt_set_int(context, "dstw", dst.Width(), 0);
    av_opt_set_int(context, "dsth", dst.Height(), 0);
    av_opt_set_int(context, "dst_format", to.format, 0);
    av_opt_set_int(context, "dst_range", to.fullRange ? 1 : 0, 0);
    av_opt_set_int(context, "sws_flags",
                   SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, 0);
    if (sws_init_context(context, nullptr, nullptr) < 0) {
        sws_freeContext(context);
        return;
    }
    int srcLinesizes[4] = {};
    int dstLinesizes[4] = {};
    std::copy(src.Linesizes(), src.Linesizes() + 4, srcLinesizes);
    std::copy(dst.Linesizes(), dst.Linesizes() + 4, dstLinesizes);
    sws_scale(context, src.ConstPlanes(), srcLinesizes, 0, src.Height(), dst.Planes(),
              dstLinesizes);
    sws_freeContext(context);
}

}  // namespace moduletest
