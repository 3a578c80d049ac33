#pragma once

// The calling interface of the two run-time modules, shared by the modules
// themselves and by the engine's holders that load them. Every entry point is
// an exported C symbol Ordinal<n>.

#include <cstdint>

extern "C" {

// ---- Image plug-in "TBeautySkin.dat" ----------------------------------------

// Quarter turns: the source of srcWidth x srcHeight becomes a destination of
// dstWidth = srcHeight by dstHeight = srcWidth. Bytes per pixel are
// srcLinesize / srcWidth (2, 3 or 4). Ordinal 4 and ordinal 6 turn in
// opposite directions. Return 0 on success.
using TurnFn = int32_t (*)(const uint8_t* src, uint8_t* dst, int32_t srcWidth, int32_t srcHeight,
                           int32_t srcLinesize, int32_t dstWidth, int32_t dstHeight,
                           int32_t dstLinesize);
// Present only so that a holder can tell whether the module is still loaded.
using ProbeFn = int32_t (*)(void* a, void* b, int32_t x, int32_t y, int32_t z);
// Beauty filter on packed BGR24, linesize = width * 3; strengths 0..10 each,
// 0 meaning no change of that kind. src and dst may be the same buffer.
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
// used by callers. Planes follow FFmpeg's layout for the format.
class IPixConverter {
public:
    virtual int32_t Reserved0() = 0;
    virtual int32_t Reserved1() = 0;
    virtual void Release() = 0;
    // Callers pass (dstCode, 1, srcCode, 1, width, height, 0, 1, 255, 1);
    // 0 on success.
    virtual int32_t Configure(int32_t dstCode, int32_t a1, int32_t srcCode, int32_t a3,
                              int32_t width, int32_t height, int32_t a6, int32_t a7,
                              int32_t a8, int32_t a9) = 0;
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
    // 0 on success.
    virtual int32_t Configure(int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                              int32_t srcHeight, int32_t code) = 0;
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
// Ordinal 351: works in place on a 4-byte-per-pixel picture (the engine calls
// it with src == dst); callers pass 255, 3.
using Op351Fn = void (*)(const uint8_t* src, int32_t srcLinesize, uint8_t* dst,
                         int32_t dstLinesize, int32_t width, int32_t height, int32_t a,
                         int32_t b);
// Ordinal 347: dst = fg over bg with the mask byte as opacity (255 foreground
// only, 0 background only), 3 bytes per pixel; callers pass 1, 0. Returns 0.
using BlendFn = int32_t (*)(const uint8_t* fg, int32_t fgLinesize, const uint8_t* bg,
                            int32_t bgLinesize, uint8_t* dst, int32_t dstLinesize, int32_t width,
                            int32_t height, int32_t a, int32_t b, const uint8_t* mask,
                            int32_t maskLinesize);

}  // extern "C"
