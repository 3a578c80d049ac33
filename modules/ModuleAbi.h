#pragma once

// The calling interface of the two run-time modules, shared by the modules
// themselves and by the engine's holders that load them. Every entry point is
// an exported C symbol Ordinal<n>.

#include <cstdint>

extern "C" {

// Results of every operation of both modules that returns one: 0 on success,
// any other value a failure that left the destination untouched.
enum : int32_t {
    kModuleOk = 0,
    kModuleBadArgument = 1,    // a null pointer, a size out of range, a line size too short
    kModuleUnsupported = 2,    // a format code or a pixel size the module does not handle
    kModuleNotConfigured = 3,  // Run before a successful Configure
    kModuleNoMemory = 4,
};

// ---- Image plug-in "TBeautySkin.dat" ----------------------------------------

// Quarter turns: the source of srcWidth x srcHeight becomes a destination of
// dstWidth = srcHeight by dstHeight = srcWidth. Bytes per pixel are
// srcLinesize / srcWidth (2, 3 or 4). Ordinal 4 turns clockwise, ordinal 6
// counter-clockwise. Source and destination must not overlap. Return 0 on
// success.
using TurnFn = int32_t (*)(const uint8_t* src, uint8_t* dst, int32_t srcWidth, int32_t srcHeight,
                           int32_t srcLinesize, int32_t dstWidth, int32_t dstHeight,
                           int32_t dstLinesize);
// Present only so that a holder can tell whether the module is still loaded.
using ProbeFn = int32_t (*)(void* a, void* b, int32_t x, int32_t y, int32_t z);
// Beauty filter on packed BGR24, linesize = width * 3 (or more); strengths
// 0..10 each (values outside are clamped), 0 meaning no change of that kind:
// with smoothing and whitening both 0 the destination equals the source.
// Texture is how much fine detail the smoothing keeps. src and dst may be the
// same buffer. Calls are serialised inside the module (its scratch buffers are
// shared); the first call at a new size allocates them. Returns 0 on success.
using BeautyFn = int32_t (*)(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                             int32_t linesize, int32_t smoothing, int32_t whitening,
                             int32_t texture);

// ---- Colour-conversion module "Gxrl.dat" -------------------------------------

}  // extern "C"

// Format codes of the colour-conversion module.
enum : int32_t {
    kPixCodeBgr24 = 1,
    kPixCodeBgra = 53,
    kPixCodeYuyv422 = 100,
    kPixCodeUyvy422 = 101,
    kPixCodeGray8 = 180,
    kPixCodeYuv420p = 200,
    kPixCodeYuvj422p = 202,
    kPixCodeNv12 = 300,
};

// A format converter made by ordinal 159. The first two operations are not
// used by callers (they return kModuleUnsupported). Planes follow FFmpeg's
// layout for the format: YUYV and UYVY rows hold (width + 1) / 2 pairs,
// 4:2:0 chroma has (height + 1) / 2 rows; with an odd width the half pair
// outside the picture repeats the last pixel. YUV codes are BT.601, limited
// range except kPixCodeYuvj422p (full range); kPixCodeGray8 is full range.
// Every sample is within 1 level of the exact BT.601 value (a trip to YUV and
// back within 2); chroma is the mean of the pixels it covers, and each pixel
// takes the chroma sample covering it. One object serves one caller at a time.
class IPixConverter {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t Reserved1() = 0;
    virtual void Release() = 0;
    // Callers pass (dstCode, 1, srcCode, 1, width, height, 0, 1, 255, 1); the
    // constants a1, a3, a6..a9 are not interpreted. 0 on success;
    // kModuleUnsupported for an unknown code, kModuleBadArgument for a side
    // outside 1..16384. Reserves every buffer the conversion needs.
    virtual int32_t Configure(int32_t dstCode, int32_t a1, int32_t srcCode, int32_t a3,
                              int32_t width, int32_t height, int32_t a6, int32_t a7,
                              int32_t a8, int32_t a9) = 0;
    // Converts one picture of the configured size; allocates nothing. Line
    // sizes may exceed the row (padding) or be negative (bottom-up). 0 on
    // success; kModuleNotConfigured, or kModuleBadArgument for a missing plane
    // or a line size shorter than its row.
    virtual int32_t Run(uint8_t* const dst[], const int32_t dstLinesize[],
                        const uint8_t* const src[], const int32_t srcLinesize[]) = 0;

protected:
    ~IPixConverter() = default;
};

// A scaler made by ordinal 164: resizes pictures of one format code.
class IPixScaler {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t Reserved1() = 0;
    virtual void Release() = 0;
    // Bilinear resampling of every plane of the format, centre-aligned
    // (destination sample i at source position (i + 0.5) * src / dst - 0.5);
    // equal sizes copy exactly. 0 on success; the same failures as the
    // converter's Configure.
    virtual int32_t Configure(int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                              int32_t srcHeight, int32_t code) = 0;
    // As the converter's Run, from a source of the configured source size.
    virtual int32_t Run(uint8_t* const dst[], const int32_t dstLinesize[],
                        const uint8_t* const src[], const int32_t srcLinesize[]) = 0;

protected:
    ~IPixScaler() = default;
};

extern "C" {

// Ordinal 159: *out := a new converter; `reserved` is null. 0 on success.
using CreateConverterFn = int32_t (*)(IPixConverter** out, void* reserved);
// Ordinal 164: *out := a new scaler; callers pass 3, 3. 0 on success.
using CreateScalerFn = int32_t (*)(IPixScaler** out, int32_t a, int32_t b);
// Ordinal 351, fill alpha: every 4-byte pixel of src is written to dst with
// its byte 3 (the alpha of BGRA) set to 255; in place when src == dst, as the
// engine calls it on bands of its pictures. a and b are not interpreted
// (callers pass 255, 3). Null pointers or a side outside 1..16384 do nothing.
using Op351Fn = void (*)(const uint8_t* src, int32_t srcLinesize, uint8_t* dst,
                         int32_t dstLinesize, int32_t width, int32_t height, int32_t a,
                         int32_t b);
// Ordinal 347: dst = fg over bg with the mask byte m as opacity, 3 bytes per
// pixel: dst = (fg * m + bg * (255 - m)) / 255 rounded to nearest, so m = 255
// gives the foreground and m = 0 the background exactly. dst may be fg or bg.
// a and b are not interpreted (callers pass 1, 0). Returns 0, or
// kModuleBadArgument (nothing written) for null pointers or a side outside
// 1..16384.
using BlendFn = int32_t (*)(const uint8_t* fg, int32_t fgLinesize, const uint8_t* bg,
                            int32_t bgLinesize, uint8_t* dst, int32_t dstLinesize, int32_t width,
                            int32_t height, int32_t a, int32_t b, const uint8_t* mask,
                            int32_t maskLinesize);

}  // extern "C"
