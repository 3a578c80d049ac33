// The run-time modules at 1920 x 1080, each conversion beside libswscale doing
// the same in the same run. Run: build/bin/modules_bench

#include <benchmark/benchmark.h>

#include "tests/modules/BeautyModule.h"
#include "tests/modules/BeautyPictures.h"
#include "tests/modules/GxrlModule.h"

namespace moduletest {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

void FillSource(TPictureBuffer& picture) {
    TPictureBuffer bgr(kPixCodeBgr24, picture.Width(), picture.Height());
    FillSmoothBgr(bgr, 3);
    ConvertWithSwscale(bgr, picture);
}

void BM_ModuleConvert(benchmark::State& state, int32_t src, int32_t dst) {
    TPictureBuffer in(src, kWidth, kHeight);
    FillSource(in);
    TPictureBuffer out(dst, kWidth, kHeight);
    TConverterPtr converter = NewConverter();
    if (!converter || converter->Configure(dst, 1, src, 1, kWidth, kHeight, 0, 1, 255, 1) != 0) {
        state.SkipWithError("no converter");
        return;
    }
    for (auto _ : state) {
        converter->Run(out.Planes(), out.Linesizes(), in.ConstPlanes(), in.Linesizes());
        benchmark::ClobberMemory();
    }
}

// libswscale as an application would set it up for a same-size conversion.
void BM_SwscaleConvert(benchmark::State& state, int32_t src, int32_t dst) {
    TPictureBuffer in(src, kWidth, kHeight);
    FillSource(in);
    TPictureBuffer out(dst, kWidth, kHeight);
    SwsContext* context =
        sws_getContext(kWidth, kHeight, FormatOfCode(src).format, kWidth, kHeight,
                       FormatOfCode(dst).format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    int srcLinesizes[4] = {in.Linesizes()[0], in.Linesizes()[1], in.Linesizes()[2], 0};
    int dstLinesizes[4] = {out.Linesizes()[0], out.Linesizes()[1], out.Linesizes()[2], 0};
    for (auto _ : state) {
        sws_scale(context, in.ConstPlanes(), srcLinesizes, 0, kHeight, out.Planes(), dstLinesizes);
        benchmark::ClobberMemory();
    }
    sws_freeContext(context);
}

BENCHMARK_CAPTURE(BM_ModuleConvert, Yuyv422ToBgr24, kPixCodeYuyv422, kPixCodeBgr24);
BENCHMARK_CAPTURE(BM_SwscaleConvert, Yuyv422ToBgr24, kPixCodeYuyv422, kPixCodeBgr24);
BENCHMARK_CAPTURE(BM_ModuleConvert, Bgr24ToBgra, kPixCodeBgr24, kPixCodeBgra);
BENCHMARK_CAPTURE(BM_SwscaleConvert, Bgr24ToBgra, kPixCodeBgr24, kPixCodeBgra);
BENCHMARK_CAPTURE(BM_ModuleConvert, BgraToNv12, kPixCodeBgra, kPixCodeNv12);
BENCHMARK_CAPTURE(BM_SwscaleConvert, BgraToNv12, kPixCodeBgra, kPixCodeNv12);
BENCHMARK_CAPTURE(BM_ModuleConvert, Bgr24ToNv12, kPixCodeBgr24, kPixCodeNv12);
BENCHMARK_CAPTURE(BM_SwscaleConvert, Bgr24ToNv12, kPixCodeBgr24, kPixCodeNv12);
// The engine's other per-frame conversions, for reference.
BENCHMARK_CAPTURE(BM_ModuleConvert, Bgr24ToYuyv422, kPixCodeBgr24, kPixCodeYuyv422);
BENCHMARK_CAPTURE(BM_SwscaleConvert, Bgr24ToYuyv422, kPixCodeBgr24, kPixCodeYuyv422);
BENCHMARK_CAPTURE(BM_ModuleConvert, Yuvj422pToYuyv422, kPixCodeYuvj422p, kPixCodeYuyv422);

// Scaling stages of the engine's chain.
void BM_ModuleScale(benchmark::State& state, int32_t code, int32_t srcWidth, int32_t srcHeight,
                    int32_t dstWidth, int32_t dstHeight) {
    TPictureBuffer in(code, srcWidth, srcHeight);
    FillSource(in);
    TPictureBuffer out(code, dstWidth, dstHeight);
    TScalerPtr scaler = NewScaler();
    if (!scaler || scaler->Configure(dstWidth, dstHeight, srcWidth, srcHeight, code) != 0) {
        state.SkipWithError("no scaler");
        return;
    }
    for (auto _ : state) {
        scaler->Run(out.Planes(), out.Linesizes(), in.ConstPlanes(), in.Linesizes());
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(BM_ModuleScale, Yuyv422From1080pTo720p, kPixCodeYuyv422, 1920, 1080, 1280, 720);
BENCHMARK_CAPTURE(BM_ModuleScale, BgraFrom720pTo1080p, kPixCodeBgra, 1280, 720, 1920, 1080);

void BM_QuarterTurn(benchmark::State& state, int32_t bytes) {
    std::vector<uint8_t> src(static_cast<size_t>(kWidth) * kHeight * bytes, 77);
    std::vector<uint8_t> dst(src.size());
    const TurnFn turn = TurnClockwise();
    for (auto _ : state) {
        turn(src.data(), dst.data(), kWidth, kHeight, kWidth * bytes, kHeight, kWidth,
             kHeight * bytes);
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(BM_QuarterTurn, Bgra, 4);
BENCHMARK_CAPTURE(BM_QuarterTurn, Bgr24, 3);
BENCHMARK_CAPTURE(BM_QuarterTurn, Yuyv422, 2);

void BM_AlphaBlend(benchmark::State& state) {
    std::vector<uint8_t> fg(static_cast<size_t>(kWidth) * kHeight * 3, 200);
    std::vector<uint8_t> bg(fg.size(), 30), dst(fg.size());
    std::vector<uint8_t> mask(static_cast<size_t>(kWidth) * kHeight);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<uint8_t>(i * 7);
    const auto blend = Gxrl().Entry<BlendFn>(347);
    for (auto _ : state) {
        blend(fg.data(), kWidth * 3, bg.data(), kWidth * 3, dst.data(), kWidth * 3, kWidth, kHeight,
              1, 0, mask.data(), kWidth);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_AlphaBlend);

void BM_BeautyFilter(benchmark::State& state) {
    TBgrPicture src(kWidth, kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) src.Set(x, y, 200, 120, 40);
    }
    FillNoisySkin(src, kWidth / 4, kHeight / 8, 3 * kWidth / 4, kHeight, 6.0, 1);
    TBgrPicture dst(kWidth, kHeight);
    const BeautyFn beauty = Beauty();
    for (auto _ : state) {
        beauty(src.data.data(), dst.data.data(), kWidth, kHeight, kWidth * 3, 5, 5, 5);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BeautyFilter);

}  // namespace
}  // namespace moduletest

BENCHMARK_MAIN();
