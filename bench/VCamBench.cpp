// The virtual camera: what one Write of a 1080p BGRA frame costs, how long a
// frame written at 30 per second takes to reach a reader's copy, and what
// qndl-vcam's conversion of one 1080p frame to a device format costs.
//
//   build/bin/vcam_bench
//   build/bin/vcam_bench --benchmark_filter=Convert

#include <benchmark/benchmark.h>
#include <unistd.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/VCamWriter.h"
#include "platform/PerfCounter.h"
#include "platform/SharedMemory.h"
#include "tools/vcam/TFrameConverter.h"
#include "tools/vcam/TVCamReader.h"

namespace {

using namespace pelorn;
using platform::PerfCounter;

std::string BenchName(const char* stem) { return std::string("Global\\") + stem + "_" + std::to_string(getpid()); }

AVFrame* FullHdBgra() {
    AVFrame* frame = av_frame_alloc();
    frame->width = 1920;
    frame->height = 1080;
    frame->format = 28;
    av_frame_get_buffer(frame, 1);
    for (int i = 0; i < 1920 * 1080 * 4; ++i) frame->data[0][i] = static_cast<uint8_t>(i * 7);
    return frame;
}

// A reader that frees every slot at once: each Write finds room.
void TakeAll(void* block) {
    common::TFrameRingHeader* header = vcam::Header(block);
    header->head.store(header->tail.load());
}

void BM_VCamWrite1080pBgra(benchmark::State& state) {
    VCamWriter writer(BenchName("BenchShm"), BenchName("BenchEvt"));
    if (writer.Create() != 0) {
        state.SkipWithError("no block");
        return;
    }
    writer.Reset(1920, 1080, 28);
    platform::TSharedMemory block;
    block.Open(writer.MappingName(), vcam::kBlockBytes, platform::TSharedMemory::Access::OpenExisting);
    AVFrame* frame = FullHdBgra();
    // Every slot once, so that the fresh block's page faults are not counted.
    for (int i = 0; i < vcam::kCapacity; ++i) {
        writer.Write(frame);
        TakeAll(block.Data());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(writer.Write(frame));
        TakeAll(block.Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * vcam::kPixelBytes);
    av_frame_free(&frame);
}
BENCHMARK(BM_VCamWrite1080pBgra)->Unit(benchmark::kMillisecond)->UseRealTime();

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    return values[at];
}

// The writer stamps each frame's pts with the counter at the start of Write;
// the reader thread, woken by the event, takes the delay once its copy of the
// slot is complete.
void BM_VCamWriteToReaderDelay(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    VCamWriter writer(BenchName("BenchDelayShm"), BenchName("BenchDelayEvt"));
    if (writer.Create() != 0) {
        state.SkipWithError("no block");
        return;
    }
    writer.Reset(1920, 1080, 28);
    AVFrame* frame = FullHdBgra();
    std::vector<double> delaysMs;
    for (auto _ : state) {
        delaysMs.clear();
        delaysMs.reserve(frames);
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            vcam::TVCamReader vcam(writer.MappingName(), writer.EventName());
            if (vcam.Connect() != 0) return;
            vcam::TVCamFrame read;
            while (!stop.load()) {
                vcam.WaitForFrames(50);
                while (vcam.ReadNext(&read)) {
                    const int64_t ticks = PerfCounter::Now() - read.pts;
                    delaysMs.push_back(ticks * 1000.0 / PerfCounter::Frequency());
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto period = std::chrono::nanoseconds(1'000'000'000 / 30);
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            std::this_thread::sleep_until(next);
            next += period;
            frame->pts = PerfCounter::Now();
            writer.Write(frame);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
        reader.join();
    }
    if (delaysMs.empty()) {
        state.SkipWithError("the reader saw nothing");
    } else {
        state.counters["median_ms"] = Percentile(delaysMs, 0.5);
        state.counters["p99_ms"] = Percentile(delaysMs, 0.99);
        state.counters["max_ms"] = Percentile(delaysMs, 1.0);
        state.counters["read"] = static_cast<double>(delaysMs.size());
        state.counters["lost"] = static_cast<double>(writer.RingFullCount());
    }
    av_frame_free(&frame);
}
BENCHMARK(BM_VCamWriteToReaderDelay)->Arg(450)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One 1080p picture from the engine's slot to the layout a device is given.
void BM_VCamConvert1080p(benchmark::State& state, int source, int target) {
    const vcam::TPictureLayout in = vcam::LayoutOf(source, 1920, 1080);
    std::vector<uint8_t> picture(in.bytes);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7 + i / 7680);
    vcam::TFrameConverter converter;
    if (converter.Configure(1920, 1080, source, 1920, 1080, target) != 0) {
        state.SkipWithError("not configured");
        return;
    }
    std::vector<uint8_t> out(converter.Output().bytes);
    converter.Convert(picture.data(), out.data());  // first touch of every page
    for (auto _ : state) {
        converter.Convert(picture.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_VCamConvert1080p, BgraToYuyv, vcam::kAvBgra, vcam::kAvYuyv422)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VCamConvert1080p, BgraToI420, vcam::kAvBgra, vcam::kAvYuv420p)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VCamConvert1080p, BgraToNv12, vcam::kAvBgra, vcam::kAvNv12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VCamConvert1080p, BgraToRgb24, vcam::kAvBgra, vcam::kAvRgb24)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VCamConvert1080p, YuyvToI420, vcam::kAvYuyv422, vcam::kAvYuv420p)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
