#include "engine/DzOqcEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

#include "common/ErrorTrail.h"
#include "platform/DebugOutput.h"
#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

using platform::PerfCounter;

constexpr char kCompositorSetUpFailed[] = "色键器初始化失败";

// Input formats whose planes the conversion module reads as what they are.
bool IsReadableInput(int pixelFormat) {
    switch (pixelFormat) {
        case AV_PIX_FMT_YUYV422:
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_BGRA:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_UYVY422:
        case AV_PIX_FMT_NV12:
            return true;
        default:
            return false;
    }
}

bool IsOutputFormat(int pixelFormat) {
    return pixelFormat == AV_PIX_FMT_BGR24 || pixelFormat == AV_PIX_FMT_BGRA ||
           pixelFormat == AV_PIX_FMT_YUYV422;
}

// The compositor's work area and the warm-up buffer hold 1920 x 1080 pixels
// at 4 bytes.
bool CompositorSizeFits(int width, int height) {
    return width > 0 && height > 0 &&
           static_cast<size_t>(width) * static_cast<size_t>(height) * 4 <=
               DzOqcEngine::kScratchBytes;
}

size_t PictureBytes(const TProcessStage& stage) {
    return static_cast<size_t>(stage.outLinesize) * static_cast<size_t>(stage.outHeight);
}

// What a stage that could not run leaves behind: black, never stale or
// uninitialised memory.
void FillBlack(uint8_t* picture, int linesize, int width, int height, int pixelFormat) {
    for (int row = 0; row < height; ++row) {
        uint8_t* line = picture + static_cast<ptrdiff_t>(row) * linesize;
        if (pixelFormat == AV_PIX_FMT_YUYV422) {
            for (int x = 0; x + 1 < width; x += 2) {
                line[x * 2 + 0] = 16;
                line[x * 2 + 1] = 128;
                line[x * 2 + 2] = 16;
                line[x * 2 + 3] = 128;
            }
        } else if (pixelFormat == AV_PIX_FMT_BGRA) {
            for (int x = 0; x < width; ++x) {
                line[x * 4 + 0] = line[x * 4 + 1] = line[x * 4 + 2] = 0;
                line[x * 4 + 3] = 255;
            }
        } else {
            std::memset(line, 0, static_cast<size_t>(width) * 3);
        }
    }
}

void CopyRows(uint8_t* destination, int destinationLinesize, const uint8_t* source,
              int sourceLinesize, size_t rowBytes, int rows) {
    for (int row = 0; row < rows; ++row) {
        std::memcpy(destination + static_cast<ptrdiff_t>(row) * destinationLinesize,
                    source + static_cast<ptrdiff_t>(row) * sourceLinesize, rowBytes);
    }
}

}  // namespace

DzOqcEngine::DzOqcEngine(OutputCallback callback, void* user, const TEngineLog* log)
    : m_queue(kQueueSlots, sizeof(AVFrame*)), m_pCbOqcOutput(callback), m_pUser(user), m_pLog(log) {
    for (int i = 0; i < kQueueSlots; ++i) {
        m_frames[i] = av_frame_alloc();
        std::memcpy(m_queue.Slot(i), &m_frames[i], sizeof(AVFrame*));
    }
    for (auto& scratch : m_pScratch) scratch = std::make_unique_for_overwrite<uint8_t[]>(kScratchBytes);
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
    for (auto& scratch : m_pScratch) scratch.reset();
    av_frame_free(&m_pOutFrame);
    // Buffers a receiver still holds free the pool when they come back.
    av_buffer_pool_uninit(&m_pOutPool);

    char line[256];
    std::snprintf(line, sizeof line,
                  "\n\r ------------ VexarSDK -----------, 队列满的次数: %d, 低延时主动丢帧次数: "
                  "%d，最后一次主动丢帧的帧号: %d\n\r",
                  m_nQueueFullCount.load(), m_nLowLatencyDropCount.load(),
                  m_nLastDropFrameNo.load());
    platform::DebugOutput(line);
}

int DzOqcEngine::ConversionCode(int pixelFormat) {
    switch (pixelFormat) {
        case AV_PIX_FMT_YUYV422:
            return kPixCodeYuyv422;
        case AV_PIX_FMT_YUVJ422P:
            return kPixCodeYuvj422p;
        case AV_PIX_FMT_BGR24:
            return kPixCodeBgr24;
        // Decoders mostly deliver these; read as BGRA they would be misread and
        // read past the end of their planes.
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P:
            return kPixCodeYuv420p;
        case AV_PIX_FMT_UYVY422:
            return kPixCodeUyvy422;
        case AV_PIX_FMT_NV12:
            return kPixCodeNv12;
        default:
            return kPixCodeBgra;
    }
}

int DzOqcEngine::BytesPerPixel(int pixelFormat) {
    switch (pixelFormat) {
        case AV_PIX_FMT_YUYV422:
            return 2;
        case AV_PIX_FMT_BGR24:
            return 3;
        default:
            return 4;
    }
}

// Slots follow the ring's 12-byte header, so they are not pointer-aligned.
AVFrame* DzOqcEngine::QueueSlot(void* slot) const {
    AVFrame* frame = nullptr;
    std::memcpy(&frame, slot, sizeof frame);
    return frame;
}

bool DzOqcEngine::PlanStages(const TPipelineConfig& config,
                             std::array<TProcessStage, kStageCount>& stages) {
    for (TProcessStage& stage : stages) stage.enabled = stage.toOutput = false;

    // The working picture as it leaves each enabled stage.
    int width = config.inWidth;
    int height = config.inHeight;
    int format = config.inFormat;
    auto plan = [&](StageIndex index, int outWidth, int outHeight, int outFormat) {
        TProcessStage& stage = stages[index];
        stage.enabled = true;
        stage.inWidth = width;
        stage.inHeight = height;
        stage.inFormat = format;
        stage.outWidth = outWidth;
        stage.outHeight = outHeight;
        stage.outFormat = outFormat;
        stage.outLinesize = outWidth * BytesPerPixel(outFormat);
        width = outWidth;
        height = outHeight;
        format = outFormat;
    };

    if (format != AV_PIX_FMT_YUYV422) plan(kStageInConvert, width, height, AV_PIX_FMT_YUYV422);
    if (config.mode & kModeScaleDown) {
        // With a quarter turn still to come the picture is composed upright.
        if (config.mode & kModeRotate) {
            plan(kStagePreScale, config.outHeight, config.outWidth, AV_PIX_FMT_YUYV422);
        } else {
            plan(kStagePreScale, config.outWidth, config.outHeight, AV_PIX_FMT_YUYV422);
        }
    }
    const int composed = config.outFormat == AV_PIX_FMT_YUYV422 ? static_cast<int>(AV_PIX_FMT_BGR24)
                                                                : config.outFormat;
    plan(kStageCompositor, width, height, composed);
    if (config.mode & kModeRotate) plan(kStageRotate, height, width, composed);
    if (config.outFormat == AV_PIX_FMT_YUYV422) {
        plan(kStageOutConvert, width, height, AV_PIX_FMT_YUYV422);
    }
    if (config.mode & kModeScaleUp) plan(kStagePostScale, config.outWidth, config.outHeight, format);

    for (StageIndex index : {kStagePostScale, kStageOutConvert, kStageRotate, kStageCompositor}) {
        if (stages[index].enabled) {
            stages[index].toOutput = true;
            break;
        }
    }

    bool fits = IsReadableInput(config.inFormat) && IsOutputFormat(config.outFormat) &&
                config.inWidth > 0 && config.inHeight > 0 && width == config.outWidth &&
                height == config.outHeight && format == config.outFormat;
    fits = fits && CompositorSizeFits(stages[kStageCompositor].inWidth,
                                      stages[kStageCompositor].inHeight);
    for (const TProcessStage& stage : stages) {
        if (stage.enabled && !stage.toOutput && PictureBytes(stage) > kScratchBytes) fits = false;
    }
    return fits;
}

bool DzOqcEngine::CanProcess(const TPipelineConfig& config) {
    std::array<TProcessStage, kStageCount> stages;
    return PlanStages(config, stages);
}

StageIndex DzOqcEngine::OutputStage() const {
    for (int index = 0; index < kStageCount; ++index) {
        if (m_stages[index].toOutput) return static_cast<StageIndex>(index);
    }
    return kStageCompositor;
}

void DzOqcEngine::Configure(uint8_t* canvas, const TPipelineConfig* config) {
    if (canvas == nullptr || config == nullptr) return;
    // Stopped first: the running worker reads what is replaced here.
    if (m_bWorkerCreated) m_worker.Stop();
    m_bWorkerCreated = true;
    m_pCanvas = canvas;

    ReleaseQueuedFrames();
    m_queue.ResetPositions();
    m_config = *config;

    m_bChainUsable = PlanStages(m_config, m_stages);
    if (!m_bChainUsable) {
        platform::DebugOutput("DzOqcEngine::Configure: the chain cannot carry this input; "
                              "frames are delivered black\n");
    }
    SetUpCompositor();
    CreateStageObjects();

    av_frame_unref(m_pOutFrame);
    PrepareOutputPool();
    m_nProcessMs = 0;
    m_nQueueFullCount = 0;
    m_nLowLatencyDropCount = 0;
    m_nLastDropFrameNo = 0;
    m_nInputFrameCount = 0;
    m_worker.Start(&DzOqcEngine::DoOutput, this);
}

void DzOqcEngine::ClearCompositorLayout(int width, int height) {
    // SetWorkingSize clears the layout only when the size changes; passing
    // through 0 x 0 clears it for a change of format as well.
    Controls().SetWorkingSize(0, 0);
    Controls().SetWorkingSize(width, height);
}

void DzOqcEngine::SetUpCompositor() {
    const TProcessStage& stage = m_stages[kStageCompositor];
    const int width = stage.inWidth;
    const int height = stage.inHeight;
    if (m_compositor.IsReady() && m_compositor.Width() == width &&
        m_compositor.Height() == height && m_compositor.OutFormat() == stage.outFormat) {
        return;
    }
    if (!CompositorSizeFits(width, height)) return;

    m_compositor.SetFormats(stage.inFormat, stage.outFormat);
    ClearCompositorLayout(width, height);
    if (m_compositor.SetUp(width, height) != TCompositor::kOk) {
        common::ErrorTrail::Add(kCompositorSetUpFailed);
        return;
    }
    // One composition of a black picture over a black canvas, so that the
    // first real frame does not pay for what the compositor prepares lazily.
    uint8_t* warmUp = m_pScratch[0].get();
    std::memset(warmUp, 0, kScratchBytes);
    m_compositor.Compose(warmUp, warmUp, warmUp);
}

void DzOqcEngine::CreateStageObjects() {
    for (TProcessStage& stage : m_stages) {
        stage.converter.Reset();
        stage.scaler.Reset();
    }
    if (!m_bChainUsable) return;

    for (StageIndex index : {kStageInConvert, kStageOutConvert}) {
        TProcessStage& stage = m_stages[index];
        if (!stage.enabled) continue;
        if (m_brenvik.CreateConverter(stage.converter.Receive(), nullptr) != 0 ||
            !stage.converter ||
            stage.converter->Configure(ConversionCode(stage.outFormat), 1,
                                       ConversionCode(stage.inFormat), 1, stage.inWidth,
                                       stage.inHeight, 0, 1, 255, 1) != 0) {
            stage.converter.Reset();
            platform::DebugOutput("DzOqcEngine::Configure: no converter for a conversion stage\n");
        }
    }
    for (StageIndex index : {kStagePreScale, kStagePostScale}) {
        TProcessStage& stage = m_stages[index];
        if (!stage.enabled) continue;
        if (m_brenvik.CreateScaler(stage.scaler.Receive(), 3, 3) != 0 || !stage.scaler ||
            stage.scaler->Configure(stage.outWidth, stage.outHeight, stage.inWidth,
                                    stage.inHeight, ConversionCode(stage.inFormat)) != 0) {
            stage.scaler.Reset();
            platform::DebugOutput("DzOqcEngine::Configure: no scaler for a scaling stage\n");
        }
    }
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

// The stages were configured for one input size and format; a frame of any
// other (a stream that changed mid-way, a damaged file) would be read past
// the end of its planes.
bool DzOqcEngine::FitsConfiguredInput(const AVFrame* input) const {
    if (input->width != m_config.inWidth || input->height != m_config.inHeight ||
        input->format != m_config.inFormat) {
        return false;
    }
    const int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(input->format));
    if (planes <= 0 || planes > 4) return false;
    for (int plane = 0; plane < planes; ++plane) {
        if (input->data[plane] == nullptr) return false;
    }
    return true;
}

uint8_t* DzOqcEngine::ScratchOtherThan(const uint8_t* picture) const {
    return picture == m_pScratch[0].get() ? m_pScratch[1].get() : m_pScratch[0].get();
}

bool DzOqcEngine::Compose(const TPicture& source, uint8_t* destination) {
    const TProcessStage& stage = m_stages[kStageCompositor];
    const uint8_t* packed = source.planes[0];
    const int packedLinesize = stage.inWidth * BytesPerPixel(stage.inFormat);
    if (source.linesizes[0] != packedLinesize) {
        // The compositor takes no line size: a padded input frame is packed
        // first, into the scratch buffer the destination does not use.
        uint8_t* copy = ScratchOtherThan(destination);
        CopyRows(copy, packedLinesize, source.planes[0], source.linesizes[0],
                 static_cast<size_t>(packedLinesize), stage.inHeight);
        packed = copy;
    }
    return m_compositor.Compose(destination, packed, m_pCanvas) != TCompositor::kNotReady;
}

bool DzOqcEngine::RunStage(StageIndex index, const TPicture& source, uint8_t* destination,
                           int32_t destinationLinesize) {
    TProcessStage& stage = m_stages[index];
    uint8_t* const destinationPlanes[4] = {destination, nullptr, nullptr, nullptr};
    const int32_t destinationLinesizes[4] = {destinationLinesize, 0, 0, 0};
    switch (index) {
        case kStageInConvert:
        case kStageOutConvert:
            return stage.converter && stage.converter->Run(destinationPlanes, destinationLinesizes,
                                                           source.planes, source.linesizes) == 0;
        case kStagePreScale:
        case kStagePostScale:
            return stage.scaler && stage.scaler->Run(destinationPlanes, destinationLinesizes,
                                                     source.planes, source.linesizes) == 0;
        case kStageCompositor:
            return destinationLinesize == stage.outLinesize && Compose(source, destination);
        case kStageRotate:
            return m_imPlugIn.RotateQuarter(source.planes[0], destination, stage.inWidth,
                                            stage.inHeight, source.linesizes[0], stage.outWidth,
                                            stage.outHeight, destinationLinesize) == 0;
        case kStageCount:
            break;
    }
    return false;
}

void DzOqcEngine::RunChain(const AVFrame* input) {
    TPicture source{};
    for (int plane = 0; plane < 4; ++plane) {
        source.planes[plane] = input->data[plane];
        source.linesizes[plane] = input->linesize[plane];
    }
    for (int i = 0; i < kStageCount; ++i) {
        const auto index = static_cast<StageIndex>(i);
        const TProcessStage& stage = m_stages[index];
        if (!stage.enabled) continue;
        uint8_t* destination = stage.toOutput ? m_pOutFrame->data[0]
                                              : ScratchOtherThan(source.planes[0]);
        const int32_t linesize = stage.toOutput ? m_pOutFrame->linesize[0] : stage.outLinesize;
        if (!RunStage(index, source, destination, linesize)) {
            FillBlack(destination, linesize, stage.outWidth, stage.outHeight, stage.outFormat);
        }
        source = TPicture{{destination, nullptr, nullptr, nullptr}, {linesize, 0, 0, 0}};
    }
}

// Output formats are packed, one plane; line sizes as FFmpeg's own
// allocation with alignment 1 gives them.
void DzOqcEngine::PrepareOutputPool() {
    av_buffer_pool_uninit(&m_pOutPool);
    m_nOutLinesize = 0;
    int linesizes[4] = {};
    if (m_config.outHeight <= 0 ||
        av_image_fill_linesizes(linesizes, static_cast<AVPixelFormat>(m_config.outFormat),
                                m_config.outWidth) < 0 ||
        linesizes[0] <= 0) {
        return;
    }
    m_nOutLinesize = linesizes[0];
    // Black for a format the chain cannot write covers up to four bytes a
    // pixel per row; the last row must not run past the buffer.
    const size_t rowSpill =
        static_cast<size_t>(std::max(m_config.outWidth * 4 - m_nOutLinesize, 0));
    const size_t bytes =
        static_cast<size_t>(m_nOutLinesize) * static_cast<size_t>(m_config.outHeight) + rowSpill;
    m_pOutPool = av_buffer_pool_init(bytes, nullptr);
}

bool DzOqcEngine::AttachOutputBuffer() {
    if (m_pOutPool == nullptr) return false;
    m_pOutFrame->buf[0] = av_buffer_pool_get(m_pOutPool);
    if (m_pOutFrame->buf[0] == nullptr) return false;
    m_pOutFrame->format = m_config.outFormat;
    m_pOutFrame->width = m_config.outWidth;
    m_pOutFrame->height = m_config.outHeight;
    m_pOutFrame->data[0] = m_pOutFrame->buf[0]->data;
    m_pOutFrame->linesize[0] = m_nOutLinesize;
    m_pOutFrame->extended_data = m_pOutFrame->data;
    return true;
}

void DzOqcEngine::ProcessOldest() {
    AVFrame* input = QueueSlot(m_queue.Front());
    if (!AttachOutputBuffer()) {
        platform::DebugOutput("DzOqcEngine::DoOutput: no output buffer, frame skipped\n");
        av_frame_unref(m_pOutFrame);
        av_frame_unref(input);
        m_queue.Pop();
        return;
    }

    const int64_t start = PerfCounter::Now();
    if (m_bChainUsable && FitsConfiguredInput(input)) {
        RunChain(input);
    } else {
        FillBlack(m_pOutFrame->data[0], m_pOutFrame->linesize[0], m_config.outWidth,
                  m_config.outHeight, m_config.outFormat);
    }
    const int64_t end = PerfCounter::Now();
    const double ticksPerMs = static_cast<double>(PerfCounter::Frequency()) / 1000.0;
    m_nProcessMs = static_cast<int32_t>(std::lround((end - start) / ticksPerMs));

    m_pOutFrame->pts = input->pts;
    m_pOutFrame->pkt_dts = input->pkt_dts;
    m_pOutFrame->pkt_duration = input->pkt_duration;
    m_pOutFrame->pkt_size = input->pkt_size;
    // A source's opaque may name something its opaque_ref keeps alive (a
    // camera's stream): the output frame holds it too.
    if (av_buffer_replace(&m_pOutFrame->opaque_ref, input->opaque_ref) >= 0) m_pOutFrame->opaque = input->opaque;
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
