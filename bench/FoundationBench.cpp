// The engine's per-frame bookkeeping: the frame ring and the input path.
// Run: build/bin/foundation_bench

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "common/FrameRing.h"
#include "engine/TCapEngineMain.h"

namespace {

void BM_FrameRingPushPop(benchmark::State& state) {
    common::FrameRing ring(100, sizeof(void*));
    void* value = &ring;
    for (auto _ : state) {
        ring.Push(&value, sizeof value);
        benchmark::DoNotOptimize(ring.Front());
        ring.Pop();
    }
}
BENCHMARK(BM_FrameRingPushPop);

long Discard(unsigned char*, void*, int) { return 0; }

// DoInputPin on an open engine whose output worker drains the queue, with a
// 1080p frame: stamping, rate statistics and one reference, no pixel work.
void BM_DoInputPin(benchmark::State& state) {
    pelorn::TCapEngineMain engine(&Discard, nullptr, 0);
    TCapOpenParam param = TCapOpenParam::WithoutSources(1920, 1080, 28, 30);
    engine.Open(&param);

    AVFrame* frame = av_frame_alloc();
    frame->format = 1;
    frame->width = 1920;
    frame->height = 1080;
    av_frame_get_buffer(frame, 1);
    for (auto _ : state) engine.DoInputPin(frame);
    state.counters["queue_full"] = engine.OutputQueue().QueueFullCount();
    engine.Stop();
    av_frame_free(&frame);
}
BENCHMARK(BM_DoInputPin);

}  // namespace

BENCHMARK_MAIN();
