#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/FrameRing.h"
#include "common/WorkerThread.h"
#include "engine/TEngineLog.h"
#include "engine/compositor/TCompositor.h"
#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/IIMPlugIn.h"

struct AVBufferPool;
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

// The chain's stages, in the order a frame passes them.
enum StageIndex : int {
    kStageInConvert,
    kStagePreScale,
    kStageCompositor,
    kStageRotate,
    kStageOutConvert,
    kStagePostScale,
    kStageCount,
};

// One step of the chain as Configure planned it. Sizes and formats are those
// of the picture the stage reads and the one it writes (AVPixelFormat codes).
struct TProcessStage {
    bool enabled = false;
    bool toOutput = false;  // writes straight into the output frame
    int inWidth = 0;
    int inHeight = 0;
    int inFormat = -1;
    int outWidth = 0;
    int outHeight = 0;
    int outFormat = -1;
    int outLinesize = 0;  // bytes per line of the written picture
    TConverter converter;  // InConvert and OutConvert
    TScaler scaler;        // PreScale and PostScale
};

// The output queue: the main source's reader pushes input frames, one worker
// takes them oldest first, runs each through the processing chain into one
// output frame and hands that to the output callback. While more than
// kMaxBacklog frames wait, the worker drops the oldest instead, so the queue
// adds at most a few frames of latency.
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

    // Whether the chain can carry `config` at all: an input format it can
    // read, every intermediate picture within a scratch buffer, and stages
    // that end at the output size. A chain configured otherwise delivers
    // black frames.
    static bool CanProcess(const TPipelineConfig& config);
    // The colour-conversion module's code for an AVPixelFormat.
    static int ConversionCode(int pixelFormat);
    static int BytesPerPixel(int pixelFormat);

    TMattControls& Controls() { return m_compositor.Controls(); }
    TCompositor& Compositor() { return m_compositor; }
    const TPipelineConfig& Config() const { return m_config; }

    // The plan of the last Configure.
    const TProcessStage& Stage(StageIndex index) const { return m_stages[index]; }
    StageIndex OutputStage() const;
    bool ChainUsable() const { return m_bChainUsable; }

    int WaitingFrames() const { return m_queue.Count(); }
    int32_t QueueFullCount() const { return m_nQueueFullCount.load(); }
    int32_t LowLatencyDropCount() const { return m_nLowLatencyDropCount.load(); }
    int32_t LastDropFrameNo() const { return m_nLastDropFrameNo.load(); }
    int32_t InputFrameCount() const { return m_nInputFrameCount.load(); }
    int32_t ProcessMs() const { return m_nProcessMs.load(); }

private:
    // Pointers to the planes of one picture on its way down the chain.
    struct TPicture {
        const uint8_t* planes[4];
        int32_t linesizes[4];
    };

    static void DoOutput(void* self);
    void ReleaseQueuedFrames();
    void DropOldest();
    void ProcessOldest();
    AVFrame* QueueSlot(void* slot) const;
    void PrepareOutputPool();
    bool AttachOutputBuffer();

    // Fills `stages` for `config`; false when the chain cannot carry it.
    static bool PlanStages(const TPipelineConfig& config,
                           std::array<TProcessStage, kStageCount>& stages);
    void CreateStageObjects();
    void SetUpCompositor();
    void ClearCompositorLayout(int width, int height);

    bool FitsConfiguredInput(const AVFrame* input) const;
    void RunChain(const AVFrame* input);
    bool RunStage(StageIndex index, const TPicture& source, uint8_t* destination,
                  int32_t destinationLinesize);
    bool Compose(const TPicture& source, uint8_t* destination);
    uint8_t* ScratchOtherThan(const uint8_t* source) const;

    common::FrameRing m_queue;  // each slot holds one of m_frames
    common::WorkerThread m_worker{common::WorkerThread::RestartPolicy::AwaitPreviousThenDetach};
    bool m_bWorkerCreated = false;
    OutputCallback m_pCbOqcOutput;
    void* m_pUser;
    TPipelineConfig m_config{};
    // The module holders come before the stages, whose objects they made and
    // which must be released while the modules are still loaded.
    BrenvikDLL m_brenvik;
    IIMPlugIn m_imPlugIn;
    std::array<TProcessStage, kStageCount> m_stages;
    bool m_bChainUsable = false;
    uint8_t* m_pCanvas = nullptr;
    std::unique_ptr<uint8_t[]> m_pScratch[2];
    std::array<AVFrame*, kQueueSlots> m_frames{};
    AVFrame* m_pOutFrame = nullptr;
    // The output pictures' pixels, sized once per Configure: a fresh buffer of
    // a whole picture per frame would be faulted in page by page each time.
    AVBufferPool* m_pOutPool = nullptr;
    int m_nOutLinesize = 0;
    const TEngineLog* m_pLog;
    TCompositor m_compositor;

    std::atomic<int32_t> m_nProcessMs{0};
    std::atomic<int32_t> m_nQueueFullCount{0};
    std::atomic<int32_t> m_nLowLatencyDropCount{0};
    std::atomic<int32_t> m_nLastDropFrameNo{0};
    std::atomic<int32_t> m_nInputFrameCount{0};
};

}  // namespace pelorn
