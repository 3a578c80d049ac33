#include "modules/gxrl/ColourKernels.h"

#include <algorithm>
#include <cstring>

#include "modules/gxrl/VectorClones.h"

namespace gxrl {

namespace {

// Fixed point in 16-bit lanes, values in 1/32 of a level. A coefficient c is
// split into a whole part w (0, 1 or 2: a shift) and the rest, taken by a
// high multiply with f = (c - w) * 16384:
//     x * c * 32 = x * w * 32 + (x * 128 * f) >> 16.
// Each term is off by less than 1/32; the sum is rounded once at the end.
struct TCoefficient {
    int16_t whole;
    int16_t fraction;  // (c - whole) * 16384
};

constexpr TCoefficient Coefficient(double c) {
    const int16_t whole = c >= 2.0 ? 2 : (c >= 1.0 ? 1 : 0);
    const double fraction = (c - whole) * 16384.0;
    return {whole, static_cast<int16_t>(fraction < 0 ? fraction - 0.5 : fraction + 0.5)};
}

struct TYuvToRgb {
    int16_t lumaOffset;
    TCoefficient luma, blueU, greenU, greenV, redV;
};

constexpr TYuvToRgb kLimitedRange = {16,
                                     Coefficient(1.164383),
                                     Coefficient(2.017232),
                                     Coefficient(-0.391762),
                                     Coefficient(-0.812968),
                                     Coefficient(1.596027)};
constexpr TYuvToRgb kFullRange = {0,
                                  Coefficient(1.0),
                                  Coefficient(1.772),
                                  Coefficient(-0.344136),
                                  Coefficient(-0.714136),
                                  Coefficient(1.402)};

inline int16_t MultiplyHigh(int16_t a, int16_t b) {
    return static_cast<int16_t>((static_cast<int32_t>(a) * b) >> 16);
}

// x * c in 1/32 of a level, for |x| <= 255.
inline int16_t Term(int16_t x, TCoefficient c) {
    return static_cast<int16_t>(x * 32 * c.whole +
                                MultiplyHigh(static_cast<int16_t>(x * 128), c.fraction));
}

inline uint32_t ToLevel(int16_t thirtySeconds) {
    const int level = (thirtySeconds + 16) >> 5;
    return static_cast<uint32_t>(std::min(std::max(level, 0), 255));
}

struct TChromaTerms {
    int16_t blue, green, red;
};

template <const TYuvToRgb& M>
inline TChromaTerms ChromaTerms(uint8_t u, uint8_t v) {
    const auto cu = static_cast<int16_t>(u - 128);
    const auto cv = static_cast<int16_t>(v - 128);
    return {Term(cu, M.blueU), static_cast<int16_t>(Term(cu, M.greenU) + Term(cv, M.greenV)),
            Term(cv, M.redV)};
}

template <const TYuvToRgb& M>
inline uint32_t Pixel(uint8_t y, const TChromaTerms& chroma) {
    const int16_t luma = Term(static_cast<int16_t>(y - M.lumaOffset), M.luma);
    return ToLevel(static_cast<int16_t>(luma + chroma.blue)) |
           ToLevel(static_cast<int16_t>(luma + chroma.green)) << 8 |
           ToLevel(static_cast<int16_t>(luma + chroma.red)) << 16 | 0xFF000000u;
}

inline void Store(uint8_t* at, uint32_t pixel) { std::memcpy(at, &pixel, 4); }

// The coefficients are compile-time constants: multiplications by their
// whole parts become shifts.
template <const TYuvToRgb& M>
GXRL_VECTOR_CLONES void YuvToBgra(const uint8_t* __restrict y, const uint8_t* __restrict u,
                                  const uint8_t* __restrict v, uint8_t* __restrict bgra,
                                  int32_t width) {
    const int32_t pairs = width / 2;
    for (int32_t k = 0; k < pairs; ++k) {
        const TChromaTerms chroma = ChromaTerms<M>(u[k], v[k]);
        Store(bgra + 8 * k, Pixel<M>(y[2 * k], chroma));
        Store(bgra + 8 * k + 4, Pixel<M>(y[2 * k + 1], chroma));
    }
    if (width % 2 != 0) {
        Store(bgra + 8 * pairs, Pixel<M>(y[2 * pairs], ChromaTerms<M>(u[pairs], v[pairs])));
    }
}

struct TRgbToYuv {
    int16_t lumaOffset;
    TCoefficient lumaR, lumaG, lumaB;
    TCoefficient uR, uG, uB;
    TCoefficient vR, vG, vB;
};

constexpr TRgbToYuv kToLimitedRange = {16,
                                       Coefficient(0.256788),
                                       Coefficient(0.504129),
                                       Coefficient(0.097906),
                                       Coefficient(-0.148223),
                                       Coefficient(-0.290993),
                                       Coefficient(0.439216),
                                       Coefficient(0.439216),
                                       Coefficient(-0.367788),
                                       Coefficient(-0.071427)};
constexpr TRgbToYuv kToFullRange = {0,
                                    Coefficient(0.299),
                                    Coefficient(0.587),
                                    Coefficient(0.114),
                                    Coefficient(-0.168736),
                                    Coefficient(-0.331264),
                                    Coefficient(0.5),
                                    Coefficient(0.5),
                                    Coefficient(-0.418688),
                                    Coefficient(-0.081312)};

template <const TRgbToYuv& M>
GXRL_VECTOR_CLONES void BgraToLuma(const uint8_t* __restrict bgra, uint8_t* __restrict y,
                                   int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = bgra + 4 * x;
        const int16_t sum = static_cast<int16_t>(M.lumaOffset * 32 + Term(p[2], M.lumaR) +
                                                 Term(p[1], M.lumaG) + Term(p[0], M.lumaB));
        y[x] = static_cast<uint8_t>(ToLevel(sum));
    }
}

// A chroma coefficient (|c| < 1) times the mean of four samples, in 1/32 of
// a level, from their sum s <= 1020: (s * 32 * f) >> 16 = s / 4 * c * 32.
inline int16_t MeanTerm(int16_t sumOfFour, TCoefficient c) {
    return MultiplyHigh(static_cast<int16_t>(sumOfFour * 32), c.fraction);
}

template <const TRgbToYuv& M>
inline void ChromaOfBlock(int16_t b, int16_t g, int16_t r, uint8_t* u, uint8_t* v) {
    *u = static_cast<uint8_t>(ToLevel(static_cast<int16_t>(128 * 32 + MeanTerm(r, M.uR) +
                                                           MeanTerm(g, M.uG) + MeanTerm(b, M.uB))));
    *v = static_cast<uint8_t>(ToLevel(static_cast<int16_t>(128 * 32 + MeanTerm(r, M.vR) +
                                                           MeanTerm(g, M.vG) + MeanTerm(b, M.vB))));
}

template <const TRgbToYuv& M>
GXRL_VECTOR_CLONES void BgraToChroma(const uint8_t* __restrict row0, const uint8_t* __restrict row1,
                                     uint8_t* __restrict u, uint8_t* __restrict v, int32_t width) {
    const int32_t pairs = width / 2;
    for (int32_t k = 0; k < pairs; ++k) {
        const uint8_t* a = row0 + 8 * k;
        const uint8_t* b = row1 + 8 * k;
        auto sum = [&](int c) { return static_cast<int16_t>(a[c] + a[c + 4] + b[c] + b[c + 4]); };
        ChromaOfBlock<M>(sum(0), sum(1), sum(2), &u[k], &v[k]);
    }
    if (width % 2 != 0) {
        const uint8_t* a = row0 + 8 * pairs;
        const uint8_t* b = row1 + 8 * pairs;
        auto sum = [&](int c) { return static_cast<int16_t>(2 * (a[c] + b[c])); };
        ChromaOfBlock<M>(sum(0), sum(1), sum(2), &u[pairs], &v[pairs]);
    }
}

// Constants found so that (x * scale + bias) >> 16 equals the rounded
// mapping for every byte x (no byte falls on a tie: 438 x and 448 (x - 128)
// are even, 255 (2 k + 1) is odd). The tests check all 256.
constexpr uint32_t kLumaScale = 56280, kLumaBias = 1081792;
constexpr uint32_t kChromaScale = 57566, kChromaBias = 1052906;

template <uint32_t Scale, uint32_t Bias>
GXRL_VECTOR_CLONES void MapLinear(const uint8_t* __restrict src, uint8_t* __restrict dst,
                                  int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        dst[i] = static_cast<uint8_t>((src[i] * Scale + Bias) >> 16);
    }
}

}  // namespace

void YuvToBgraRow(TYuvRange range, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                  uint8_t* bgra, int32_t width) {
    if (range == TYuvRange::kFull) {
        YuvToBgra<kFullRange>(y, u, v, bgra, width);
    } else {
        YuvToBgra<kLimitedRange>(y, u, v, bgra, width);
    }
}

void BgraToLumaRow(TYuvRange range, const uint8_t* bgra, uint8_t* y, int32_t width) {
    if (range == TYuvRange::kFull) {
        BgraToLuma<kToFullRange>(bgra, y, width);
    } else {
        BgraToLuma<kToLimitedRange>(bgra, y, width);
    }
}

void BgraToChromaRow(TYuvRange range, const uint8_t* bgra0, const uint8_t* bgra1, uint8_t* u,
                     uint8_t* v, int32_t width) {
    if (range == TYuvRange::kFull) {
        BgraToChroma<kToFullRange>(bgra0, bgra1, u, v, width);
    } else {
        BgraToChroma<kToLimitedRange>(bgra0, bgra1, u, v, width);
    }
}

void FullToLimitedLumaRow(const uint8_t* src, uint8_t* dst, int32_t count) {
    MapLinear<kLumaScale, kLumaBias>(src, dst, count);
}

void FullToLimitedChromaRow(const uint8_t* src, uint8_t* dst, int32_t count) {
    MapLinear<kChromaScale, kChromaBias>(src, dst, count);
}

}  // namespace gxrl
