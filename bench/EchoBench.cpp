// The echo window's per-frame work on the user-interface thread: a 1080p
// composed frame handed over, converted, its statistics stamped and the
// result painted into a 640 x 360 and a 1920 x 1080 window (Qt's offscreen
// platform); and DrawLines of the statistics text alone.

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/time.h>
}

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "console/AnsiCodePage.h"
#include "console/CPreviewDlg.h"
#include "console/TDrawText.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "echo-bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

AVFrame* MakeFrame(AVPixelFormat format) {
    AVFrame* frame = av_frame_alloc();
    frame->width = 1920;
    frame->height = 1080;
    frame->format = format;
    av_frame_get_buffer(frame, 0);
    for (int plane = 0; plane < 1; ++plane) {
        for (int y = 0; y < 1080; ++y) {
            uint8_t* row = frame->data[0] + y * frame->linesize[0];
            for (int x = 0; x < frame->linesize[0]; ++x) row[x] = static_cast<uint8_t>(x * 7 + y * 3);
        }
    }
    frame->pkt_dts = 3000;
    frame->pkt_pos = 9;
    return frame;
}

void BM_Paint(benchmark::State& state) {
    App();
    const auto format = static_cast<AVPixelFormat>(state.range(0));
    const int clientWidth = static_cast<int>(state.range(1));
    console::CPreviewDlg window;
    window.Configure(1920, 1080, format == AV_PIX_FMT_BGR24 ? AV_PIX_FMT_BGRA : format);
    window.SetCaptureFormat(1280, 720, AV_PIX_FMT_YUYV422);
    window.resize(clientWidth, clientWidth * 9 / 16);
    window.show();
    QCoreApplication::processEvents();
    AVFrame* frame = MakeFrame(format);
    int64_t sequence = 0;
    for (auto _ : state) {
        frame->pkt_size = static_cast<int>(sequence++);
        frame->pkt_duration = av_gettime_relative() - 40000;
        window.Draw(frame, 1);
        window.TakeFrame();
        window.Surface()->repaint();
    }
    if (window.PaintedFrames() < static_cast<int64_t>(state.iterations()))
        state.SkipWithError("not every frame was painted");
    av_frame_free(&frame);
}
BENCHMARK(BM_Paint)
    ->ArgNames({"format", "client"})
    ->Args({AV_PIX_FMT_BGRA, 640})
    ->Args({AV_PIX_FMT_YUYV422, 640})
    ->Args({AV_PIX_FMT_BGR24, 640})
    ->Args({AV_PIX_FMT_BGRA, 1920})
    ->Args({AV_PIX_FMT_YUYV422, 1920})
    ->Args({AV_PIX_FMT_BGR24, 1920})
    ->Unit(benchmark::kMillisecond);

void BM_DrawLines(benchmark::State& state) {
    App();
    console::IDrawText* text = console::CreateInstance_IDrawText();
    text->Setup(20, 50, AV_PIX_FMT_BGRA, 1920, 1080, 0xFFFFFF, 15);
    std::vector<uint8_t> overlay(1920 * 1080 * 4);
    char utf8[1024];
    std::snprintf(utf8, sizeof utf8,
                  "采集分辨率: 1280x720\r输出分辨率: 1920x1080\r实际帧率: 30.00\r颜色空间: yuyv422(采集)\r"
                  "颜色空间: bgra(输出)\r当前延时: 41ms\r平均延时: 40ms\r当前帧号: 1234\r关键耗时: 9\n\r"
                  "VCam状态: 已启动\n\r右键菜单关闭提示信息\r");
    console::TAnsiCodec codec;
    std::string gbk;
    codec.ToAnsi(utf8, &gbk);
    for (auto _ : state) {
        text->DrawLines(overlay.data(), gbk.c_str(), {30, 30, 1919, 1079});
        benchmark::DoNotOptimize(overlay.data());
    }
    console::ReleaseInstance_IDrawText(&text);
}
BENCHMARK(BM_DrawLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
