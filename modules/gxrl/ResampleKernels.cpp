#include "modules/gxrl/ResampleKernels.h"

#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "modules/gxrl/VectorClones.h"

namespace gxrl {

namespace {

GXRL_VECTOR_CLONES
void BlendByteRowsClones(const uint8_t* __restrict first, const uint8_t* __restrict second,
                         int32_t weight, uint16_t* __restrict out, int32_t count) {
    const auto keep = static_cast<uint16_t>(256 - weight);
    const auto take = static_cast<uint16_t>(weight);
    for (int32_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint16_t>(first[i] * keep + second[i] * take);
    }
}

GXRL_VECTOR_CLONES
void RoundBlendedRowClones(const uint16_t* __restrict blended, uint8_t* __restrict dst,
                           int32_t count) {
    for (int32_t i = 0; i < count; ++i) dst[i] = static_cast<uint8_t>((blended[i] + 128u) >> 8);
}

GXRL_VECTOR_CLONES
void WidenByteRowClones(const uint8_t* __restrict src, uint16_t* __restrict out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint16_t>(src[i] << 8);
}

GXRL_VECTOR_CLONES
void BlendScaledRowsClones(const uint16_t* __restrict first, const uint16_t* __restrict second,
                           int32_t weight, uint8_t* __restrict dst, int32_t count) {
    const auto keep = static_cast<uint32_t>(256 - weight);
    const auto take = static_cast<uint32_t>(weight);
    for (int32_t i = 0; i < count; ++i) {
        dst[i] = static_cast<uint8_t>((first[i] * keep + second[i] * take + 32768u) >> 16);
    }
}

template <int kChannels>
void SampleBlended(const uint16_t* blended, const TResampleTap* taps, uint8_t* dst,
                   int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const auto keep = static_cast<uint32_t>(256 - taps[i].weight);
        const auto take = static_cast<uint32_t>(taps[i].weight);
        const uint16_t* first = blended + taps[i].first * kChannels;
        const uint16_t* second = blended + taps[i].second * kChannels;
        for (int c = 0; c < kChannels; ++c) {
            dst[i * kChannels + c] =
                static_cast<uint8_t>((first[c] * keep + second[c] * take + 32768u) >> 16);
        }
    }
}

template <int kChannels>
void ScaleBytes(const uint8_t* src, const TResampleTap* taps, uint16_t* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const auto keep = static_cast<uint16_t>(256 - taps[i].weight);
        const auto take = static_cast<uint16_t>(taps[i].weight);
        const uint8_t* first = src + taps[i].first * kChannels;
        const uint8_t* second = src + taps[i].second * kChannels;
        for (int c = 0; c < kChannels; ++c) {
            out[i * kChannels + c] = static_cast<uint16_t>(first[c] * keep + second[c] * take);
        }
    }
}

// Calls kernel(std::integral_constant<int, channels>) for 2, 3 or 4
// channels, with one channel for anything else (packed rows go by bytes).
template <typename Kernel>
void ForChannels(int channels, Kernel kernel) {
    switch (channels) {
        case 2:
            return kernel(std::integral_constant<int, 2>{});
        case 3:
            return kernel(std::integral_constant<int, 3>{});
        case 4:
            return kernel(std::integral_constant<int, 4>{});
        default:
            return kernel(std::integral_constant<int, 1>{});
    }
}

// `weights` holds (keep, take) four times per pixel; the first pair serves.
void ScaleNeighbourPixelsPortable(const uint8_t* src, const int32_t* offsets,
                                  const int16_t* weights, uint16_t* out, int32_t begin,
                                  int32_t end) {
    for (int32_t i = begin; i < end; ++i) {
        const uint8_t* pair = src + offsets[i];
        const auto keep = static_cast<uint16_t>(weights[8 * i]);
        const auto take = static_cast<uint16_t>(weights[8 * i + 1]);
        for (int c = 0; c < 4; ++c) {
            out[4 * i + c] = static_cast<uint16_t>(pair[c] * keep + pair[4 + c] * take);
        }
    }
}

#if defined(__x86_64__)

#define GXRL_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

// The channel sums of destination pixels i and i + 1, one per lane. The
// eight bytes of a neighbour pair (a0 a1 a2 a3 b0 b1 b2 b3) are spread to
// the words a0 b0 a1 b1 ..., so one multiply-add against (keep, take) gives
// each channel's sum in 32 bits.
GXRL_AVX2_INLINE __m256i SumTwoPixels(const uint8_t* src, const int32_t* offsets,
                                      const int16_t* weights, int32_t i) {
    const __m256i spread =
        _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,  //
                         0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + offsets[i]));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + offsets[i + 1]));
    const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    const __m256i pairWeights =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 8 * i));
    return _mm256_madd_epi16(_mm256_shuffle_epi8(pairs, spread), pairWeights);
}

// Four destination pixels per step; the sums (at most 65280) pack back to
// 16 bits unchanged.
__attribute__((target("avx2"))) void ScaleNeighbourPixelsAvx2(const uint8_t* src,
                                                               const int32_t* offsets,
                                                               const int16_t* weights,
                                                               uint16_t* out, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        // packus interleaves the lanes as pixels 0 2 1 3.
        const __m256i packed = _mm256_packus_epi32(SumTwoPixels(src, offsets, weights, i),
                                                   SumTwoPixels(src, offsets, weights, i + 2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    ScaleNeighbourPixelsPortable(src, offsets, weights, out, i, count);
}

bool HasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();  // may run before libgcc's own constructor
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

#endif

}  // namespace

void BlendByteRows(const uint8_t* first, const uint8_t* second, int32_t weight, uint16_t* out,
                   int32_t count) {
    BlendByteRowsClones(first, second, weight, out, count);
}

void RoundBlendedRow(const uint16_t* blended, uint8_t* dst, int32_t count) {
    RoundBlendedRowClones(blended, dst, count);
}

void SampleBlendedRow(int channels, const uint16_t* blended, const TResampleTap* taps,
                      uint8_t* dst, int32_t count) {
    ForChannels(channels, [&](auto kChannels) {
        SampleBlended<kChannels.value>(blended, taps, dst, count);
    });
}

void WidenByteRow(const uint8_t* src, uint16_t* out, int32_t count) {
    WidenByteRowClones(src, out, count);
}

void ScaleByteRow(int channels, const uint8_t* src, const TResampleTap* taps, uint16_t* out,
                  int32_t count) {
    ForChannels(channels, [&](auto kChannels) { ScaleBytes<kChannels.value>(src, taps, out, count); });
}

void ScaleNeighbourPixelRow(const uint8_t* src, const int32_t* offsets, const int16_t* weights,
                            uint16_t* out, int32_t count) {
#if defined(__x86_64__)
    if (HasAvx2()) return ScaleNeighbourPixelsAvx2(src, offsets, weights, out, count);
#endif
    ScaleNeighbourPixelsPortable(src, offsets, weights, out, 0, count);
}

void BlendScaledRows(const uint16_t* first, const uint16_t* second, int32_t weight,
                     uint8_t* dst, int32_t count) {
    BlendScaledRowsClones(first, second, weight, dst, count);
}

}  // namespace gxrl
