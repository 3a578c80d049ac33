#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/FrameRing.h"
#include "common/WorkerThread.h"
#include "engine/TEngineLog.h"
#include "engine/compositor/TCompositor.h"

struct AVFrame;

namespace pelorn {

struct TPipelineConfig {
    int16_t mode;  // kModeSameSize | kModeRotate | kModeScaleUp | kModeScaleDown
    int16_t inWidth;
    int16_t inHeight;
    int16_t inFormat;
    int16_t outWidth;
    int16_t outHeight;
    int16_t outFormat;
};

enum : int16_t {
    kModeSameSize = 1,
    kModeRotate = 2,
    kModeScaleUp = 4,
    kModeScaleDown = 8,
};

// The output queue: the main source's reader pushes input frames, one worker
// takes them oldest first, processes each into one output frame and hands it
// to the output callback. While more than kMaxBacklog frames wait, the worker
// drops the oldest instead, so the queue adds at most a few frames of latency.
//
// Threads: Push on the reader thread (the one producer); DoOutput on the
// worker (the one consumer); Configure and destruction on the user-interface
// thread, with the worker stopped.
class DzOqcEngine {
public:
    using OutputCallback = void (*)(AVFrame* frame, void* user);

    static constexpr int kQueueSlots = 100;
    static constexpr int kMaxBacklog = 6;
    static constexpr size_t kScratchBytes = 1920 * 1080 * 4;

    DzOqcEngine(OutputCallback callback, void* user, const TEngineLog* log);
    ~DzOqcEngine();
    DzOqcEngine(const DzOqcEngine&) = delete;
    DzOqcEngine& operator=(const DzOqcEngine&) = delete;

    // (Re)configures the chain for a new input and starts the worker. Nothing
    // happens without a canvas or a config.
    void Configure(uint8_t* canvas, const TPipelineConfig* config);
    // Takes a reference to `frame` into the queue and wakes the worker; a full
    // queue refuses the frame and counts it.
    void Push(AVFrame* frame);

    TMattControls& Controls() { return m_compositor.Controls(); }
    TCompositor& Compositor() { return m_compositor; }
    const TPipelineConfig& Config() const { return m_config; }

    int WaitingFrames() const { return m_queue.Count(); }
    int32_t QueueFullCount() const { return m_nQueueFullCount.load(); }
    int32_t LowLatencyDropCount() const { return m_nLowLatencyDropCount.load(); }
    int32_t LastDropFrameNo() const { return m_nLastDropFrameNo.load(); }
    int32_t InputFrameCount() const { return m_nInputFrameCount.load(); }
    int32_t ProcessMs() const { return m_nProcessMs.load(); }

private:
    static void DoOutput(void* self);
    void ReleaseQueuedFrames();
    void DropOldest();
    void ProcessOldest();
    AVFrame* QueueSlot(void* slot) const;

    common::FrameRing m_queue;  // each slot holds one of m_frames
    common::WorkerThread m_worker{common::WorkerThread::RestartPolicy::AwaitPreviousThenDetach};
    bool m_bWorkerCreated = false;
    OutputCallback m_pCbOqcOutput;
    void* m_pUser;
    TPipelineConfig m_config{};
    uint8_t* m_pCanvas = nullptr;
    std::array<AVFrame*, kQueueSlots> m_frames{};
    AVFrame* m_pOutFrame = nullptr;
    const TEngineLog* m_pLog;
    TCompositor m_compositor;

    std::atomic<int32_t> m_nProcessMs{0};
    std::atomic<int32_t> m_nQueueFullCount{0};
    std::atomic<int32_t> m_nLowLatencyDropCount{0};
    std::atomic<int32_t> m_nLastDropFrameNo{0};
    std::atomic<int32_t> m_nInputFrameCount{0};
};

}  // namespace pelorn
