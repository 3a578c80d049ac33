#include "engine/DzOqcEngine.h"

#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

#include "platform/DebugOutput.h"
#include "platform/PerfCounter.h"

namespace pelorn {

using platform::PerfCounter;

DzOqcEngine::DzOqcEngine(OutputCallback callback, void* user, const TEngineLog* log)
    : m_queue(kQueueSlots, sizeof(AVFrame*)), m_pCbOqcOutput(callback), m_pUser(user), m_pLog(log) {
    for (int i = 0; i < kQueueSlots; ++i) {
        m_frames[i] = av_frame_alloc();
        std::memcpy(m_queue.Slot(i), &m_frames[i], sizeof(AVFrame*));
    }
    m_pOutFrame = av_frame_alloc();
}

DzOqcEngine::~DzOqcEngine() {
    if (m_worker.HasThread()) {
        m_pLog->Line("DzOqcEngine::~DzOqcEngine\n");
        m_worker.Stop();
    }
    ReleaseQueuedFrames();
    m_worker.Destroy();
    for (AVFrame*& frame : m_frames) av_frame_free(&frame);
    av_frame_free(&m_pOutFrame);

    char line[256];
    std::snprintf(line, sizeof line,
                  "\n\r ------------ VexarSDK -----------, 队列满的次数: %d, 低延时主动丢帧次数: "
                  "%d，最后一次主动丢帧的帧号: %d\n\r",
                  m_nQueueFullCount.load(), m_nLowLatencyDropCount.load(),
                  m_nLastDropFrameNo.load());
    platform::DebugOutput(line);
}

// Slots follow the ring's 12-byte header, so they are not pointer-aligned.
AVFrame* DzOqcEngine::QueueSlot(void* slot) const {
    AVFrame* frame = nullptr;
    std::memcpy(&frame, slot, sizeof frame);
    return frame;
}

void DzOqcEngine::Configure(uint8_t* canvas, const TPipelineConfig* config) {
    if (canvas == nullptr || config == nullptr) return;
    m_pCanvas = canvas;
    if (m_bWorkerCreated) m_worker.Stop();
    m_bWorkerCreated = true;

    ReleaseQueuedFrames();
    m_queue.ResetPositions();
    m_config = *config;

    av_frame_unref(m_pOutFrame);
    m_nProcessMs = 0;
    m_nQueueFullCount = 0;
    m_nLowLatencyDropCount = 0;
    m_nLastDropFrameNo = 0;
    m_nInputFrameCount = 0;
    m_worker.Start(&DzOqcEngine::DoOutput, this);
}

void DzOqcEngine::Push(AVFrame* frame) {
    if (void* slot = m_queue.TailSlot()) {
        // A frame that cannot be referenced (no picture, no memory) is not queued.
        if (av_frame_ref(QueueSlot(slot), frame) == 0) m_queue.Push();
    } else {
        m_nQueueFullCount.fetch_add(1, std::memory_order_relaxed);
    }
    // Woken also when full, so that a stalled worker gets going again.
    m_worker.Wake();
    m_nInputFrameCount.fetch_add(1, std::memory_order_relaxed);
}

void DzOqcEngine::ReleaseQueuedFrames() {
    for (AVFrame* frame : m_frames) av_frame_unref(frame);
}

void DzOqcEngine::DropOldest() {
    av_frame_unref(QueueSlot(m_queue.Front()));
    m_queue.Pop();
    m_nLowLatencyDropCount.fetch_add(1, std::memory_order_relaxed);
    m_nLastDropFrameNo.store(m_nInputFrameCount.load(std::memory_order_relaxed),
                             std::memory_order_relaxed);
}

void DzOqcEngine::ProcessOldest() {
    AVFrame* input = QueueSlot(m_queue.Front());
    const int64_t start = PerfCounter::Now();

    // The processing chain is not built yet: the queued frame itself is the
    // output frame. The stage chain replaces this reference.
    av_frame_ref(m_pOutFrame, input);

    const int64_t end = PerfCounter::Now();
    const double ticksPerMs = static_cast<double>(PerfCounter::Frequency()) / 1000.0;
    m_nProcessMs = static_cast<int32_t>(std::lround((end - start) / ticksPerMs));
    m_pOutFrame->pts = input->pts;
    m_pOutFrame->pkt_dts = input->pkt_dts;
    m_pOutFrame->pkt_duration = input->pkt_duration;
    m_pOutFrame->pkt_size = input->pkt_size;
    m_pOutFrame->opaque = input->opaque;
    m_pOutFrame->pkt_pos = m_nProcessMs;

    av_frame_unref(input);
    m_queue.Pop();

    m_pLog->Line("\nDzOqcEngine::DoOutput m_pCbOqcOutput begin\n");
    if (m_pCbOqcOutput != nullptr) m_pCbOqcOutput(m_pOutFrame, m_pUser);
    m_pLog->Line("DzOqcEngine::DoOutput m_pCbOqcOutput end\n");
    av_frame_unref(m_pOutFrame);
}

void DzOqcEngine::DoOutput(void* self) {
    auto* engine = static_cast<DzOqcEngine*>(self);
    common::WorkerThread& worker = engine->m_worker;
    worker.WaitForWake();
    while (!worker.ExitRequested()) {
        if (engine->m_pLog->Enabled()) {
            engine->m_pLog->Printf("%s %d\n", "\n\nDzOqcEngine::DoOutput while begin, output quene size:",
                                   engine->m_queue.Count());
        }
        if (engine->m_queue.IsEmpty()) {
            worker.ResetWake();
            // A frame pushed between the emptiness check and the reset set the
            // event before it was reset; look again instead of sleeping on it.
            if (!engine->m_queue.IsEmpty()) continue;
        } else if (engine->m_queue.Count() > kMaxBacklog) {
            engine->DropOldest();
        } else {
            engine->ProcessOldest();
        }
        // Manual reset and reset only when empty: returns at once while frames wait.
        worker.WaitForWake();
    }
    engine->m_pLog->Line("DzOqcEngine::DoOutput bExit\n");
    worker.ConfirmExit();
    engine->m_pLog->Line("DzOqcEngine::DoOutput SetEvent( hExitConfirm ) over\n");
}

}  // namespace pelorn
