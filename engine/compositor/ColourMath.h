#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Per-sample arithmetic of the compositor's colour tables. Every table kernel
// is built from these functions, and the tests use them as the reference.
// Integer divisions truncate toward zero, as C++ does.

namespace pelorn::colour {

constexpr size_t kColourCount = size_t{1} << 24;

// Index of a YUV sample in the derived-colour, class and classification tables.
constexpr size_t SampleIndex(int u, int v, int y) {
    return static_cast<size_t>(u) * 65536 + static_cast<size_t>(v) * 256 + static_cast<size_t>(y);
}

constexpr int Clamp8(int value) {
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

struct TBgr {
    int b;
    int g;
    int r;
};

// The colour of a YUV sample as the classification build sees it (each
// channel clamped to 0..255).
TBgr SampleColour(int u, int v, int y);
// How far a chroma pair lies towards green: 0 for neutral chroma, above 510
// for a saturated green backdrop. Kept as int16.
int KeyValue(int u, int v);
// The same towards blue, for the twin keyer.
int BlueKeyValue(int u, int v);

// Unmix(a, b, c, d, e): three colour bytes (blue, green, red) with a green
// amount d and a scale e give an opacity and three bytes with the green
// backdrop taken out.
struct TUnmixed {
    int alpha;
    uint8_t b;
    uint8_t g;
    uint8_t r;
};
TUnmixed Unmix(int a, int b, int c, int d, int e);

// Hue-table entry of a sample (index (Y * 65536 + U * 256 + V) * 3): hue,
// saturation, lightness bytes, computed in single precision.
std::array<uint8_t, 3> HueEntry(int y, int u, int v);
// Colour-table entry (index (h * 65536 + s * 256 + l) * 3): B, G, R bytes of
// hue h * 359 / 255 degrees, saturation s / 255, lightness l / 255.
std::array<uint8_t, 3> ColourEntry(int h, int s, int l);

// The only lightness the derived build reads from the colour table.
constexpr int kColourSliceLightness = 128;
constexpr size_t kColourSliceBytes = 256 * 256 * 3;
// The colour table's entries of lightness 128, index (h * 256 + s) * 3.
void BuildColourSlice(uint8_t* slice);

// One derived-colour entry (10 bytes in the table).
struct TDerived {
    uint8_t c0;  // the sample's colour with the backdrop unmixed out of it
    uint8_t c1;
    uint8_t c2;
    int16_t scale;  // 0: the sample is kept opaque
    int16_t offset;
    uint8_t spot;   // light spot on the backdrop
    uint8_t shade;  // shadow on the backdrop
};
constexpr size_t kDerivedEntryBytes = 10;

TDerived DerivedEntry(int u, int v, int y, const uint8_t* colourSlice);
void StoreDerived(const TDerived& entry, uint8_t* bytes);
// Two loads for the ten bytes (little-endian fields).
inline TDerived LoadDerived(const uint8_t* bytes) {
    uint64_t low;
    uint16_t high;
    std::memcpy(&low, bytes, 8);
    std::memcpy(&high, bytes + 8, 2);
    TDerived entry;
    entry.c0 = static_cast<uint8_t>(low);
    entry.c1 = static_cast<uint8_t>(low >> 8);
    entry.c2 = static_cast<uint8_t>(low >> 16);
    entry.scale = static_cast<int16_t>(low >> 32);
    entry.offset = static_cast<int16_t>(low >> 48);
    entry.spot = static_cast<uint8_t>(high);
    entry.shade = static_cast<uint8_t>(high >> 8);
    return entry;
}

// The level curve c(x) = 255 * x / n for x <= n, 255 above, for the
// transformed level n (255 - parameter 8). n = 255 is the identity; n = 0
// would divide by zero and takes the curve of n = 1 (black stays black,
// everything else becomes white), its limit.
void BuildLevelCurve(int level, uint8_t* curve);
// Level-table entry of (x0, x1, x2): the stretched colour shifted so that it
// keeps the original colour's luma.
inline std::array<uint8_t, 3> LevelEntry(int x0, int x1, int x2, const uint8_t* curve) {
    const int luma = std::min((114 * x0 + 587 * x1 + 299 * x2 + 500) / 1000, 255);
    const int c0 = curve[x0];
    const int c1 = curve[x1];
    const int c2 = curve[x2];
    const int shift = luma - (114 * c0 + 587 * c1 + 299 * c2 + 500) / 1000;
    return {static_cast<uint8_t>(Clamp8(c0 + shift)), static_cast<uint8_t>(Clamp8(c1 + shift)),
            static_cast<uint8_t>(Clamp8(c2 + shift))};
}

// The angle table is 1021 x 1021 bytes, read at H * 1021 + L + 674420.
constexpr int kAngleSide = 1021;
constexpr size_t kAngleBytes = size_t{kAngleSide} * kAngleSide;
constexpr int kAngleIndexBias = 674420;
// H of about 360 and more reaches past the table's end: such an index reads
// the last row at the same column.
inline size_t AngleIndex(int h, int l) {
    const size_t index =
        static_cast<size_t>(h) * kAngleSide + static_cast<size_t>(l) + kAngleIndexBias;
    if (index < kAngleBytes)
        return index;
    return (kAngleBytes - kAngleSide) + index % kAngleSide;
}

// Opacity of one classification entry, following the keyer's decision steps.
struct TKeyParams {
    int p0;   // parameter 0
    int p1;   // 2 x parameter 1
    int p10;  // 2 x parameter 10
    int p11;  // 2 x parameter 11
    uint8_t bg;
    uint8_t fg;
};
// Steps a to c of the keyer for 1 <= k < 510; `keyed` is c0 + c2 (green) or
// c2 + c1 (blue), `contrary` the remaining channel.
inline uint8_t KeyedOpacity(int k, int keyed, int contrary, const TDerived& d,
                            const TKeyParams& params, const uint8_t* angles) {
    if (d.spot > 255 - params.p11 || d.shade > 255 - params.p10)
        return params.bg;
    const int f = params.p1 + keyed - contrary;
    const int h = static_cast<int16_t>(k - std::max(f, 0));
    if (h < 1 || d.scale == 0)
        return params.fg;
    if (h >= 510)
        return params.bg;
    int kk = static_cast<int16_t>(keyed * params.p0 / 16 + d.offset);
    if (kk >= 510)
        return params.bg;
    kk = std::max(kk, 0);
    const int l = std::clamp(((510 - kk) * d.scale) >> 7, 1, 510);
    return angles[AngleIndex(h, l)];
}
inline uint8_t GreenOpacity(int k, const TDerived& d, const TKeyParams& params,
                            const uint8_t* angles) {
    return KeyedOpacity(k, d.c0 + d.c2, d.c1, d, params, angles);
}
inline uint8_t BlueOpacity(int k, const TDerived& d, const TKeyParams& params,
                           const uint8_t* angles) {
    return KeyedOpacity(k, d.c2 + d.c1, d.c0, d, params, angles);
}

}  // namespace pelorn::colour
