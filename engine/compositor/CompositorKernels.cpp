#include "engine/compositor/CompositorKernels.h"

#include <algorithm>
#include <cstring>

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

#include "engine/compositor/ColourMath.h"
#include "engine/compositor/TColourTables.h"
#include "engine/modules/BrenvikDLL.h"

namespace pelorn::kernels {
namespace {

// AVPixelFormat codes of the compositor's inputs.
constexpr int kFormatYuyv422 = 1;
constexpr int kFormatYuv444Packed = 5;
constexpr int kFormatYuvj422p = 13;
constexpr int kFormatUyvy422 = 15;

constexpr int kBands = TCompositorPool::kWorkers;
// Stretches blended over a BGRA background are cut to the size of the row
// buffer their background is converted into.
constexpr int kMaxRowPixels = 2048;

template <typename Args>
const Args& As(const void* arguments) {
    return *static_cast<const Args*>(arguments);
}

uint32_t Load32(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

size_t PairBytes(int width) {
    return static_cast<size_t>((width + 1) / 2) * 4;
}

// One classification entry: three colour bytes to the picture, the opacity to
// the mask. `last` writes exactly three bytes; otherwise four are stored and
// the fourth is overwritten by the next pixel.
inline void PutEntry(uint32_t entry, uint8_t* picture, uint8_t* mask, bool last) {
    if (last) {
        std::memcpy(picture, &entry, 3);
    } else {
        std::memcpy(picture, &entry, 4);
    }
    *mask = static_cast<uint8_t>(entry >> 24);
}

inline uint32_t Lookup(const uint8_t* table, size_t index) {
    return Load32(table + index * 4);
}

// 4:2:2 pairs; `yFirst` tells YUYV (Y0 U Y1 V) from UYVY (U Y0 V Y1).
template <bool kYFirst>
void MattPairsRow(const uint8_t* src, const uint8_t* table, uint8_t* picture, uint8_t* mask,
                  int width) {
    constexpr int kY0 = kYFirst ? 0 : 1;
    constexpr int kU = kYFirst ? 1 : 0;
    constexpr int kY1 = kYFirst ? 2 : 3;
    constexpr int kV = kYFirst ? 3 : 2;
    int x = 0;
    for (; x + 2 < width; x += 2, src += 4) {
        const size_t chroma = size_t{src[kU]} << 16 | size_t{src[kV]} << 8;
        PutEntry(Lookup(table, chroma | src[kY0]), picture + x * 3, mask + x, false);
        PutEntry(Lookup(table, chroma | src[kY1]), picture + x * 3 + 3, mask + x + 1, false);
    }
    // The last pair (or single sample of an odd width) writes only its own bytes.
    const size_t chroma = size_t{src[kU]} << 16 | size_t{src[kV]} << 8;
    PutEntry(Lookup(table, chroma | src[kY0]), picture + x * 3, mask + x, x + 1 == width);
    if (x + 1 < width) {
        PutEntry(Lookup(table, chroma | src[kY1]), picture + x * 3 + 3, mask + x + 1, true);
    }
}

void MattPlanarRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* table,
                   uint8_t* picture, uint8_t* mask, int width) {
    for (int x = 0; x < width; ++x) {
        const size_t index = size_t{u[x / 2]} << 16 | size_t{v[x / 2]} << 8 | y[x];
        PutEntry(Lookup(table, index), picture + x * 3, mask + x, x + 1 == width);
    }
}

void MattPackedRow(const uint8_t* src, const uint8_t* table, uint8_t* picture, uint8_t* mask,
                   int width) {
    for (int x = 0; x < width; ++x, src += 3) {
        const size_t index = size_t{src[1]} << 16 | size_t{src[0]} << 8 | src[2];
        PutEntry(Lookup(table, index), picture + x * 3, mask + x, x + 1 == width);
    }
}

template <typename Row>
void ForBandRows(int height, int band, Row row) {
    const TBandRange rows = BandOf(static_cast<size_t>(height), band);
    for (size_t y = rows.begin; y < rows.end; ++y) row(static_cast<int>(y));
}

// The keyer's colour of a YUV sample (clamped B, G, R).
inline void PutSampleColour(int y, const int offsets[3], uint8_t* out) {
    out[0] = static_cast<uint8_t>(colour::Clamp8(y + offsets[0]));
    out[1] = static_cast<uint8_t>(colour::Clamp8(y - offsets[1]));
    out[2] = static_cast<uint8_t>(colour::Clamp8(y + offsets[2]));
}

inline void ChromaOffsets(int u, int v, int offsets[3]) {
    offsets[0] = (1779 * u - 227212) / 1000;
    offsets[1] = (3455 * u + 7169 * v - 1354872) / 10000;
    offsets[2] = (14075 * v - 1796600) / 10000;
}

// The inverse of the keyer's colour formula.
inline int LumaOf(int b, int g, int r) {
    return (114 * b + 587 * g + 299 * r + 500) / 1000;
}
inline uint8_t ChromaU(int blueDifference) {
    return static_cast<uint8_t>(
        colour::Clamp8(128 + (blueDifference * 1000 + (blueDifference >= 0 ? 889 : -889)) / 1779));
}
inline uint8_t ChromaV(int redDifference) {
    return static_cast<uint8_t>(colour::Clamp8(
        128 + (redDifference * 10000 + (redDifference >= 0 ? 7037 : -7037)) / 14075));
}

// Row conversions by libyuv, which picks the widest vector unit at run time
// (its "RGB24" is B, G, R in memory, its "ARGB" B, G, R, A).
void BgraToBgr(const uint8_t* in, uint8_t* out, size_t pixels) {
    libyuv::ARGBToRGB24(in, 0, out, 0, static_cast<int>(pixels), 1);
}

void BgrToBgraRun(const uint8_t* in, uint8_t* out, size_t pixels) {
    libyuv::RGB24ToARGB(in, 0, out, 0, static_cast<int>(pixels), 1);
}

void OpaqueBgraRun(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
        const uint32_t pixel = Load32(in) | 0xFF000000u;
        std::memcpy(out, &pixel, 4);
    }
}

bool IsUniform(uint64_t word) {
    return word == 0 || word == ~uint64_t{0};
}

uint64_t Load64(const uint8_t* bytes) {
    uint64_t value;
    std::memcpy(&value, bytes, 8);
    return value;
}

// Where the stretch of mixed mask bytes from `x` ends: at the next run of
// eight bytes all 0 or all 255, at most kMaxRowPixels on. A byte that is
// neither lies in each of the eight windows up to it, so those are skipped.
int MixedStretchEnd(const uint8_t* mask, int x, int width) {
    const int limit = std::min(width, x + kMaxRowPixels);
    int end = x + 1;
    while (end < limit && end + 8 <= width) {
        const uint8_t last = mask[end + 7];
        if (last != 0 && last != 255) {
            end += 8;
            continue;
        }
        if (IsUniform(Load64(mask + end)))
            return end;
        ++end;
    }
    // Past the limit, or no window of eight fits any more.
    return limit;
}

// One row of dst = fg over bg by the mask. The module's blend gives exactly
// the background at opacity 0 and the foreground at 255, so runs of those
// (eight bytes on) go to `writeRun(x, count, fromForeground)` and only the
// stretches in between to `writeStretch(x, count)`, at most kMaxRowPixels
// long.
template <typename WriteRun, typename WriteStretch>
void ScanBlendRow(const uint8_t* mask, int width, WriteRun writeRun, WriteStretch writeStretch) {
    int x = 0;
    while (x < width) {
        if (x + 8 <= width && IsUniform(Load64(mask + x))) {
            const uint64_t word = Load64(mask + x);
            int end = x + 8;
            while (end + 8 <= width && Load64(mask + end) == word) end += 8;
            while (end < width && mask[end] == mask[x]) ++end;
            writeRun(x, static_cast<size_t>(end - x), mask[x] != 0);
            x = end;
            continue;
        }
        const int end = MixedStretchEnd(mask, x, width);
        writeStretch(x, static_cast<size_t>(end - x));
        x = end;
    }
}

// Runs of foreground or background are copied (or left alone where dst
// already is that picture), into a BGRA destination expanded on the way; the
// module blends the stretches, a BGRA background converted for it through a
// row buffer, and for a BGRA destination into a row buffer expanded after.
void BlendRow(const TBlendArgs& args, int y) {
    const size_t stride = static_cast<size_t>(args.width) * 3;
    const size_t bgPixelBytes = args.bgIsBgra ? 4 : 3;
    const uint8_t* mask = args.mask + static_cast<size_t>(y) * args.width;
    const uint8_t* fg = args.fg + y * stride;
    const uint8_t* bg = args.bg + y * args.width * bgPixelBytes;
    const int width = args.width;
    uint8_t rowBackground[kMaxRowPixels * 3];
    auto blendStretch = [&](int x, size_t count, uint8_t* out) {
        const uint8_t* background = bg + x * 3;
        if (args.bgIsBgra) {
            BgraToBgr(bg + x * 4, rowBackground, count);
            background = rowBackground;
        }
        args.module->AlphaBlend(fg + x * 3, static_cast<int>(stride), background,
                                static_cast<int>(stride), out, static_cast<int>(stride),
                                static_cast<int>(count), 1, 1, 0, mask + x, width);
    };

    if (args.dstIsBgra) {
        uint8_t* dst = args.dst + static_cast<size_t>(y) * args.width * 4;
        uint8_t rowBlended[kMaxRowPixels * 3];
        ScanBlendRow(
            mask, width,
            [&](int x, size_t count, bool fromForeground) {
                if (fromForeground) {
                    BgrToBgraRun(fg + x * 3, dst + x * 4, count);
                } else if (args.bgIsBgra) {
                    OpaqueBgraRun(bg + x * 4, dst + x * 4, count);
                } else {
                    BgrToBgraRun(bg + x * 3, dst + x * 4, count);
                }
            },
            [&](int x, size_t count) {
                blendStretch(x, count, rowBlended);
                BgrToBgraRun(rowBlended, dst + x * 4, count);
            });
        return;
    }
    uint8_t* dst = args.dst + y * stride;
    ScanBlendRow(
        mask, width,
        [&](int x, size_t count, bool fromForeground) {
            if (fromForeground) {
                if (fg != dst)
                    std::memcpy(dst + x * 3, fg + x * 3, count * 3);
            } else if (args.bgIsBgra) {
                BgraToBgr(bg + x * 4, dst + x * 3, count);
            } else if (bg != dst) {
                std::memcpy(dst + x * 3, bg + x * 3, count * 3);
            }
        },
        [&](int x, size_t count) { blendStretch(x, count, dst + x * 3); });
}

// The first and last subject column of a mask row, or false when it has none.
// A byte counts as subject when its top bit is set (kOpaqueFrom is 128), so
// eight bytes are tested at a time.
bool SubjectColumns(const uint8_t* row, int width, int& first, int& last) {
    constexpr uint64_t kTopBits = 0x8080808080808080ull;
    int x = 0;
    while (x + 8 <= width) {
        uint64_t word;
        std::memcpy(&word, row + x, 8);
        if (word & kTopBits)
            break;
        x += 8;
    }
    while (x < width && row[x] < kOpaqueFrom) ++x;
    if (x == width)
        return false;
    first = x;
    int end = width;
    while (end - 8 >= first) {
        uint64_t word;
        std::memcpy(&word, row + end - 8, 8);
        if (word & kTopBits)
            break;
        end -= 8;
    }
    while (row[end - 1] < kOpaqueFrom) --end;
    last = end - 1;
    return true;
}

}  // namespace

TBandRange BandOf(size_t count, int band) {
    return {count * static_cast<size_t>(band) / kBands,
            count * static_cast<size_t>(band + 1) / kBands};
}

void BandCopy(const void* arguments, int band) {
    const auto& args = As<TCopyArgs>(arguments);
    const TBandRange range = BandOf(args.bytes, band);
    if (range.end > range.begin)
        std::memcpy(args.dst + range.begin, args.src + range.begin, range.end - range.begin);
}

void Fill(const void* arguments, int band) {
    const auto& args = As<TFillArgs>(arguments);
    const TBandRange range = BandOf(args.bytes, band);
    if (range.end > range.begin)
        std::memset(args.dst + range.begin, args.value, range.end - range.begin);
}

void ReverseBits(const void* arguments, int band) {
    const auto& args = As<TReverseBitsArgs>(arguments);
    const TBandRange range = BandOf(args.bytes, band);
    // Restored byte = table[low nibble] * 16 + table[high nibble].
    static constexpr uint8_t kNibble[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (size_t i = range.begin; i < range.end; ++i) {
        const uint8_t byte = args.buffer[i];
        args.buffer[i] = static_cast<uint8_t>(kNibble[byte & 15] << 4 | kNibble[byte >> 4]);
    }
}

void GreyMask(const void* arguments, int band) {
    const auto& args = As<TGreyMaskArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    for (size_t i = range.begin; i < range.end; ++i) {
        const auto grey = static_cast<uint8_t>(args.mask[i] * 235 / 255);
        args.picture[i * 3] = args.picture[i * 3 + 1] = args.picture[i * 3 + 2] = grey;
    }
}

void LevelApply(const void* arguments, int band) {
    const auto& args = As<TLevelApplyArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    for (size_t i = range.begin; i < range.end; ++i) {
        uint8_t* pixel = args.picture + i * 3;
        const size_t index = (size_t{pixel[0]} << 16 | size_t{pixel[1]} << 8 | pixel[2]) * 3;
        std::memcpy(pixel, args.levelTable + index, 3);
    }
}

void MaskFilterRow(const uint8_t* __restrict above, const uint8_t* __restrict row,
                   const uint8_t* __restrict below, uint8_t* __restrict out, int width) {
    out[0] = row[0];
    for (int x = 1; x + 1 < width; ++x) {
        const int sum = above[x - 1] + 2 * above[x] + above[x + 1] + 2 * row[x - 1] + 4 * row[x] +
                        2 * row[x + 1] + below[x - 1] + 2 * below[x] + below[x + 1];
        out[x] = static_cast<uint8_t>(sum >> 4);
    }
    if (width > 1)
        out[width - 1] = row[width - 1];
}

uint8_t MaskFilterAt(const uint8_t* mask, int width, int x, int y) {
    static constexpr int kWeights[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
    int sum = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            sum += kWeights[dy + 1][dx + 1] * mask[static_cast<size_t>(y + dy) * width + x + dx];
        }
    }
    return static_cast<uint8_t>(sum / 16);
}

// Rows 2 to height - 2 are filtered, every column but the first and the last
// (also those after the last whole block of 32); the first two rows and the
// last row are copied.
void MaskFilter(const void* arguments, int band) {
    const auto& args = As<TMaskFilterArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    ForBandRows(args.height, band, [&](int y) {
        const uint8_t* row = args.src + y * width;
        uint8_t* out = args.dst + y * width;
        if (y < 2 || y > args.height - 2) {
            std::memcpy(out, row, width);
        } else {
            MaskFilterRow(row - width, row, row + width, out, args.width);
        }
    });
}

void MattYuyv(const void* arguments, int band) {
    const auto& args = As<TMattArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    ForBandRows(args.height, band, [&](int y) {
        MattPairsRow<true>(args.source + y * PairBytes(args.width), args.table,
                           args.picture + y * width * 3, args.mask + y * width, args.width);
    });
}

void MattUyvy(const void* arguments, int band) {
    const auto& args = As<TMattArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    ForBandRows(args.height, band, [&](int y) {
        MattPairsRow<false>(args.source + y * PairBytes(args.width), args.table,
                            args.picture + y * width * 3, args.mask + y * width, args.width);
    });
}

void MattYuvj422p(const void* arguments, int band) {
    const auto& args = As<TMattArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    const size_t chromaWidth = static_cast<size_t>((args.width + 1) / 2);
    const uint8_t* uPlane = args.source + width * args.height;
    const uint8_t* vPlane = uPlane + chromaWidth * args.height;
    ForBandRows(args.height, band, [&](int y) {
        MattPlanarRow(args.source + y * width, uPlane + y * chromaWidth, vPlane + y * chromaWidth,
                      args.table, args.picture + y * width * 3, args.mask + y * width, args.width);
    });
}

void MattPacked444(const void* arguments, int band) {
    const auto& args = As<TMattArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    ForBandRows(args.height, band, [&](int y) {
        MattPackedRow(args.source + y * width * 3, args.table, args.picture + y * width * 3,
                      args.mask + y * width, args.width);
    });
}

void DebugTint(const void* arguments, int band) {
    const auto& args = As<TDebugTintArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    for (size_t i = range.begin; i < range.end; ++i) {
        const int m = args.mask[i];
        if (m <= args.low || m >= args.high)
            continue;
        uint8_t* pixel = args.picture + i * 3;
        for (int c = 0; c < 3; ++c)
            pixel[c] = static_cast<uint8_t>((pixel[c] + kOutlineColour[c]) / 2);
    }
}

void SkinBlend(const void* arguments, int band) {
    const auto& args = As<TSkinBlendArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    for (size_t i = range.begin; i < range.end; ++i) {
        uint8_t* pixel = args.picture + i * 3;
        const int b = pixel[0];
        const int g = pixel[1];
        const int r = pixel[2];
        const int y = std::min(LumaOf(b, g, r), 255);
        const size_t sample = colour::SampleIndex(ChromaU(b - y), ChromaV(r - y), y);
        const int weight = args.classes[sample * 3];
        const uint8_t* filtered = args.filtered + i * 3;
        for (int c = 0; c < 3; ++c) {
            const int delta = (filtered[c] - pixel[c]) * weight;
            pixel[c] = static_cast<uint8_t>(pixel[c] + (delta + (delta >= 0 ? 127 : -127)) / 255);
        }
    }
}

void Blend(const void* arguments, int band) {
    const auto& args = As<TBlendArgs>(arguments);
    if (args.module == nullptr)
        return;
    ForBandRows(args.height, band, [&](int y) { BlendRow(args, y); });
}

void DebugOutline(const void* arguments, int band) {
    const auto& args = As<TOutlineArgs>(arguments);
    const int width = args.width;
    ForBandRows(args.height, band, [&](int y) {
        const uint8_t* row = args.mask + static_cast<size_t>(y) * width;
        const uint8_t* above = y > 0 ? row - width : row;
        const uint8_t* below = y + 1 < args.height ? row + width : row;
        uint8_t* out = args.picture + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            if (row[x] < kOpaqueFrom)
                continue;
            const bool edge = (x > 0 && row[x - 1] < kOpaqueFrom) ||
                              (x + 1 < width && row[x + 1] < kOpaqueFrom) ||
                              above[x] < kOpaqueFrom || below[x] < kOpaqueFrom;
            if (edge)
                std::memcpy(out + x * 3, kOutlineColour.data(), 3);
        }
    });
}

void YuvToBgr(const void* arguments, int band) {
    const auto& args = As<TConvertArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    const size_t chromaWidth = static_cast<size_t>((args.width + 1) / 2);
    ForBandRows(args.height, band, [&](int y) {
        uint8_t* out = args.dst + y * width * 3;
        int offsets[3];
        if (args.format == kFormatYuvj422p) {
            const uint8_t* luma = args.src + y * width;
            const uint8_t* u = args.src + width * args.height + y * chromaWidth;
            const uint8_t* v = u + chromaWidth * args.height;
            for (int x = 0; x < args.width; ++x) {
                ChromaOffsets(u[x / 2], v[x / 2], offsets);
                PutSampleColour(luma[x], offsets, out + x * 3);
            }
        } else if (args.format == kFormatYuv444Packed) {
            const uint8_t* src = args.src + y * width * 3;
            for (int x = 0; x < args.width; ++x, src += 3) {
                ChromaOffsets(src[1], src[0], offsets);
                PutSampleColour(src[2], offsets, out + x * 3);
            }
        } else {
            const bool yFirst = args.format != kFormatUyvy422;
            const uint8_t* src = args.src + y * PairBytes(args.width);
            for (int x = 0; x < args.width; x += 2, src += 4) {
                ChromaOffsets(yFirst ? src[1] : src[0], yFirst ? src[3] : src[2], offsets);
                PutSampleColour(yFirst ? src[0] : src[1], offsets, out + x * 3);
                if (x + 1 < args.width)
                    PutSampleColour(yFirst ? src[2] : src[3], offsets, out + x * 3 + 3);
            }
        }
    });
}

void BgrToYuv(const void* arguments, int band) {
    const auto& args = As<TConvertArgs>(arguments);
    const size_t width = static_cast<size_t>(args.width);
    const size_t chromaWidth = static_cast<size_t>((args.width + 1) / 2);
    ForBandRows(args.height, band, [&](int y) {
        const uint8_t* in = args.src + y * width * 3;
        if (args.format == kFormatYuv444Packed) {
            uint8_t* out = args.dst + y * width * 3;
            for (int x = 0; x < args.width; ++x, in += 3, out += 3) {
                const int luma = std::min(LumaOf(in[0], in[1], in[2]), 255);
                out[0] = ChromaV(in[2] - luma);
                out[1] = ChromaU(in[0] - luma);
                out[2] = static_cast<uint8_t>(luma);
            }
            return;
        }
        uint8_t* planeY = args.dst + y * width;
        uint8_t* planeU = args.dst + width * args.height + y * chromaWidth;
        uint8_t* planeV = planeU + chromaWidth * args.height;
        uint8_t* packed = args.dst + y * PairBytes(args.width);
        const bool yFirst = args.format != kFormatUyvy422;
        for (int x = 0; x < args.width; x += 2) {
            const uint8_t* p0 = in + x * 3;
            const uint8_t* p1 = x + 1 < args.width ? p0 + 3 : p0;
            const int y0 = std::min(LumaOf(p0[0], p0[1], p0[2]), 255);
            const int y1 = std::min(LumaOf(p1[0], p1[1], p1[2]), 255);
            const uint8_t u = ChromaU((p0[0] - y0 + p1[0] - y1) / 2);
            const uint8_t v = ChromaV((p0[2] - y0 + p1[2] - y1) / 2);
            if (args.format == kFormatYuvj422p) {
                planeY[x] = static_cast<uint8_t>(y0);
                if (x + 1 < args.width)
                    planeY[x + 1] = static_cast<uint8_t>(y1);
                planeU[x / 2] = u;
                planeV[x / 2] = v;
            } else {
                uint8_t* pair = packed + x * 2;
                pair[yFirst ? 0 : 1] = static_cast<uint8_t>(y0);
                pair[yFirst ? 1 : 0] = u;
                pair[yFirst ? 2 : 3] = static_cast<uint8_t>(y1);
                pair[yFirst ? 3 : 2] = v;
            }
        }
    });
}

void CanvasToBgr(const void* arguments, int band) {
    const auto& args = As<TPixelArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    BgraToBgr(args.src + range.begin * 4, args.dst + range.begin * 3, range.end - range.begin);
}

void BgrToBgra(const void* arguments, int band) {
    const auto& args = As<TPixelArgs>(arguments);
    const TBandRange range = BandOf(args.pixels, band);
    BgrToBgraRun(args.src + range.begin * 3, args.dst + range.begin * 4, range.end - range.begin);
}

void SubjectBounds(const void* arguments, int band) {
    const auto& args = As<TBoundsArgs>(arguments);
    TRect found{args.width, args.height, -1, -1};
    ForBandRows(args.height, band, [&](int y) {
        int first = 0;
        int last = 0;
        if (!SubjectColumns(args.mask + static_cast<size_t>(y) * args.width, args.width, first,
                            last)) {
            return;
        }
        found.left = std::min(found.left, first);
        found.right = std::max(found.right, last);
        found.top = std::min(found.top, y);
        found.bottom = std::max(found.bottom, y);
    });
    args.bands[band] = found;
}

void ClearOutside(const void* arguments, int band) {
    const auto& args = As<TClearOutsideArgs>(arguments);
    const size_t pixelBytes = static_cast<size_t>(args.bytesPerPixel);
    const size_t rowBytes = static_cast<size_t>(args.width) * pixelBytes;
    ForBandRows(args.height, band, [&](int y) {
        uint8_t* row = args.picture + y * rowBytes;
        if (args.keep.IsEmpty() || y < args.keep.top || y > args.keep.bottom) {
            std::memset(row, 0, rowBytes);
            return;
        }
        std::memset(row, 0, static_cast<size_t>(args.keep.left) * pixelBytes);
        const size_t tail = static_cast<size_t>(args.keep.right + 1) * pixelBytes;
        std::memset(row + tail, 0, rowBytes - tail);
    });
}

std::span<const TKernelEntry> KernelTable() {
    static constexpr TKernelEntry kTable[] = {
        {kKernelBandCopy, &BandCopy},
        {kKernelGreyMask, &GreyMask},
        {kKernelClassify, &TColourTables::KernelClassify},
        {kKernelClassifyBlue, &TColourTables::KernelClassifyBlue},
        {kKernelLevelTable, &TColourTables::KernelLevel},
        {kKernelLevelApply, &LevelApply},
        {kKernelMaskFilter, &MaskFilter},
        {kKernelMattUyvy, &MattUyvy},
        {kKernelReverseBits, &ReverseBits},
        {kKernelFill, &Fill},
        {kKernelDebugTint, &DebugTint},
        {kKernelSkinBlend, &SkinBlend},
        {kKernelBlend, &Blend},
        {kKernelDebugOutline, &DebugOutline},
        {kKernelYuvToBgr, &YuvToBgr},
        {kKernelCanvasToBgr, &CanvasToBgr},
        {kKernelBgrToBgra, &BgrToBgra},
        {kKernelBgrToYuv, &BgrToYuv},
        {kKernelMattYuyv, &MattYuyv},
        {kKernelSubjectBounds, &SubjectBounds},
        {kKernelMattYuvj422p, &MattYuvj422p},
        {kKernelDerived, &TColourTables::KernelDerived},
        {kKernelColourSlice, &TColourTables::KernelColourSlice},
        {kKernelOverlayBlend, &Blend},
        {kKernelClearOutside, &ClearOutside},
        {kKernelMattPacked444, &MattPacked444},
    };
    static_assert(std::size(kTable) == TCompositorPool::kKernelSlots);
    return kTable;
}

}  // namespace pelorn::kernels
