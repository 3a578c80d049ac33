// The camera captor's figures: MJPEG 1080p 4:2:2 decoding per picture
// through the captor (alone and with the conversion to YUYV), the copy of a
// raw 1080p YUYV picture, and Open + Start to the first callback on the
// 1080p30 raw stand-in.
//
//   build/bin/camera_bench   (compare: ffmpeg -benchmark -threads 1 -i CLIP -f null -)
//
// The decode figures are wall time per picture; cpu_ms is the reader's own
// processor time per picture, which a machine shared with other work does
// not inflate (compare with ffmpeg's utime divided by its 60 frames).

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/time.h>
}

#include <libyuv.h>

#include <time.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/ErrorTrail.h"
#include "engine/capture/TVideoCaptor.h"

namespace {

using namespace pelorn;

const std::string kClip = std::string(QUINDLE_TEST_MEDIA_DIR) + "/cam_1920x1080_30.mjpeg";
const char kRawStandin[] =
    "Cam|1920x1080@30|lavfi|testsrc2=size=1920x1080:rate=30,format=yuyv422,realtime";

struct TSink {
    std::atomic<int> pictures{0};
    std::atomic<int64_t> firstAt{0};
    int64_t firstCpuNs = 0;  // the reader's processor time at the first and latest picture
    int64_t lastCpuNs = 0;
    AVFrame* yuyv = nullptr;  // the conversion's target, when converting
};

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void Receive(AVFrame* frame, void* user) {
    TSink& sink = *static_cast<TSink*>(user);
    if (frame == nullptr) return;
    sink.lastCpuNs = ThreadCpuNs();
    if (sink.pictures == 0) sink.firstCpuNs = sink.lastCpuNs;
    int64_t none = 0;
    sink.firstAt.compare_exchange_strong(none, av_gettime_relative());
    if (sink.yuyv != nullptr) {
        libyuv::I422ToYUY2(frame->data[0], frame->linesize[0], frame->data[1], frame->linesize[1],
                           frame->data[2], frame->linesize[2], sink.yuyv->data[0], sink.yuyv->linesize[0],
                           frame->width, frame->height);
    }
    ++sink.pictures;
}

TCamOpenParam Param(TSink& sink, int pixelFormat) {
    TCamOpenParam param;
    param.deviceName = "Cam";
    param.width = 1920;
    param.height = 1080;
    param.frameRate = 30;
    param.pixelFormat = pixelFormat;
    param.callback = &Receive;
    param.user = &sink;
    return param;
}

// Every picture of the 2 s clip decoded by the reader; the time shown is
// per picture.
void DecodeMjpeg(benchmark::State& state, bool convert) {
    setenv("QUINDLE_CAMERA_STANDIN", ("Cam|1920x1080@30|mjpeg|" + kClip).c_str(), 1);
    AVFrame* yuyv = av_frame_alloc();
    yuyv->width = 1920;
    yuyv->height = 1080;
    yuyv->format = 1;
    av_frame_get_buffer(yuyv, 0);
    for (auto _ : state) {
        TSink sink;
        sink.yuyv = convert ? yuyv : nullptr;
        TVideoCaptor captor;
        TCamOpenParam param = Param(sink, -2);
        if (captor.Open(&param, nullptr) != 1) {
            state.SkipWithError(common::ErrorTrail::Take().c_str());
            break;
        }
        const int64_t start = av_gettime_relative();
        captor.Start();
        // The first picture went to Open; the reader ends at the end of the clip.
        while (captor.GetStream() != nullptr && sink.pictures < 59)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.SetIterationTime(static_cast<double>(av_gettime_relative() - start) / 1e6 / sink.pictures);
        captor.Stop();  // joins the reader: its figures are complete
        state.counters["cpu_ms"] = static_cast<double>(sink.lastCpuNs - sink.firstCpuNs) / 1e6 / (sink.pictures - 1);
    }
    av_frame_free(&yuyv);
    unsetenv("QUINDLE_CAMERA_STANDIN");
}
BENCHMARK_CAPTURE(DecodeMjpeg, decode, false)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(DecodeMjpeg, decode_to_yuyv, true)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(5)->ReportAggregatesOnly(true);

// The one copy a raw picture gets before it is handed over.
void CopyRawPicture(benchmark::State& state) {
    AVFrame* from = av_frame_alloc();
    AVFrame* to = av_frame_alloc();
    for (AVFrame* frame : {from, to}) {
        frame->width = 1920;
        frame->height = 1080;
        frame->format = 1;
        av_frame_get_buffer(frame, 0);
    }
    for (auto _ : state) {
        av_frame_make_writable(to);
        av_frame_copy(to, from);
        benchmark::DoNotOptimize(to->data[0][0]);
    }
    av_frame_free(&from);
    av_frame_free(&to);
}
BENCHMARK(CopyRawPicture)->Unit(benchmark::kMillisecond);

// Open + Start to the first callback on the raw 1080p30 stand-in.
void OpenToFirstPicture(benchmark::State& state) {
    setenv("QUINDLE_CAMERA_STANDIN", kRawStandin, 1);
    for (auto _ : state) {
        TSink sink;
        TVideoCaptor captor;
        TCamOpenParam param = Param(sink, 1);
        const int64_t start = av_gettime_relative();
        if (captor.Open(&param, nullptr) != 1) {
            state.SkipWithError(common::ErrorTrail::Take().c_str());
            break;
        }
        captor.Start();
        while (sink.firstAt == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.SetIterationTime(static_cast<double>(sink.firstAt - start) / 1e6);
        state.PauseTiming();
        captor.Stop();
        state.ResumeTiming();
    }
    unsetenv("QUINDLE_CAMERA_STANDIN");
}
BENCHMARK(OpenToFirstPicture)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
