#include "engine/compositor/TCompositor.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/ParamTable.h"
#include "engine/compositor/KernelIds.h"
#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TCompositorPool.h"
#include "engine/compositor/TDebugOverlay.h"
#include "engine/compositor/TFrameOverlay.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleFolder.h"
#include "platform/ExecutablePath.h"
#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

using kernels::TRect;
using platform::PerfCounter;

// AVPixelFormat codes the matting step knows.
constexpr int kFormatYuyv422 = 1;
constexpr int kFormatYuv444Packed = 5;
constexpr int kFormatYuvj422p = 13;
constexpr int kFormatUyvy422 = 15;
constexpr int kFormatBgra = 28;

constexpr size_t kPlaneBytes = TCompositor::kMaxPixels;

int MattingKernelFor(int inFormat) {
    switch (inFormat) {
        case kFormatUyvy422:
            return kKernelMattUyvy;
        case kFormatYuv444Packed:
            return kKernelMattPacked444;
        case kFormatYuvj422p:
            return kKernelMattYuvj422p;
        case kFormatYuyv422:
        default:
            return kKernelMattYuyv;
    }
}

bool FileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

int Clamped(const std::array<int32_t, kParamCount>& values, int index) {
    return ClampParam(index, values[index]);
}

int ElapsedMs(int64_t start) {
    const double ticksPerMs = static_cast<double>(PerfCounter::Frequency()) / 1000.0;
    return static_cast<int>(
        std::lround(static_cast<double>(PerfCounter::Now() - start) / ticksPerMs));
}

bool SameKey(const colour::TKeyParams& a, const colour::TKeyParams& b) {
    return a.p0 == b.p0 && a.p1 == b.p1 && a.p10 == b.p10 && a.p11 == b.p11 && a.bg == b.bg &&
           a.fg == b.fg;
}

}  // namespace

TCompositor::TCompositor() : TCompositor(TCompositorPaths{}) {}

TCompositor::TCompositor(const TCompositorPaths& paths) : m_paths(paths) {
    if (m_paths.tableFolder.empty())
        m_paths.tableFolder = ModuleFolder();
    if (m_paths.imageFolder.empty())
        m_paths.imageFolder = platform::ExecutableFolder();
    m_bConstructed = Construct();
}

TCompositor::~TCompositor() = default;

// A failing step ends construction there; the compositor then never becomes
// ready and every SetUp reports the failure.
bool TCompositor::Construct() {
    m_pPool = std::make_unique<TCompositorPool>(kernels::KernelTable());

    m_pWorkArea = THugeBuffer(kWorkAreaBytes);
    m_pBlack = std::make_unique<uint8_t[]>(kBackgroundBytes);
    m_pWhite = std::make_unique_for_overwrite<uint8_t[]>(kBackgroundBytes);
    std::memset(m_pWhite.get(), 255, kBackgroundBytes);
    // Blue for every pixel of the largest picture, whatever size comes later.
    m_pBlue = std::make_unique<uint8_t[]>(kBackgroundBytes);
    for (size_t i = 0; i < kMaxPixels; ++i) m_pBlue[i * 3] = 255;
    CutWorkArea();

    m_pConverter = m_paths.converterModule.empty()
                       ? std::make_unique<BrenvikDLL>()
                       : std::make_unique<BrenvikDLL>(m_paths.converterModule);
    m_pPlugIn = m_paths.pluginModule.empty() ? std::make_unique<IIMPlugIn>()
                                             : std::make_unique<IIMPlugIn>(m_paths.pluginModule);
    m_beauty = TBeautyFilter(m_pPlugIn.get());
    for (TScaler* scaler : {&m_pictureScaler, &m_maskScaler, &m_backgroundScaler}) {
        if (m_pConverter->CreateScaler(scaler->Receive(), 3, 3) != 0 || !*scaler)
            return false;
    }

    m_pTables = std::make_unique<TColourTables>();
    if (!m_pTables->Load(*m_pPool, m_paths.tableFolder))
        return false;
    m_tracker.Reset();
    return true;
}

void TCompositor::CutWorkArea() {
    uint8_t* plane = m_pWorkArea.get();
    auto take = [&plane](int planes) {
        uint8_t* start = plane;
        plane += planes * kPlaneBytes;
        return start;
    };
    m_pPicture = take(3);
    m_pSparePicture = take(3);
    m_pMask = take(1);
    m_pSpareMask = take(1);
    m_pBackground = take(3);
    m_pBeautyScratch = take(3);
    m_pMattInput = take(3);
}

void TCompositor::SetFormats(int inFormat, int outFormat) {
    m_nInFormat = inFormat;
    m_nOutFormat = outFormat;
}

bool TCompositor::HasFrameOverlay() const {
    return m_pOverlay && m_pOverlay->IsLoaded();
}

int TCompositor::SetUp(int width, int height) {
    m_bReady = false;
    if (!m_bConstructed)
        return kSetUpFailed;
    if (width < 1 || height < 1 || static_cast<size_t>(width) * height > kMaxPixels) {
        return kSetUpFailed;
    }
    m_nWidth = width;
    m_nHeight = height;
    CutWorkArea();
    // A frame whose budget runs out before anything was composed delivers
    // this: black, never uninitialised memory.
    std::memset(m_pPicture, 0, Pixels() * 3);
    m_controls.SetWorkingSize(width, height);

    const std::pair<TScaler*, int> scalers[] = {{&m_pictureScaler, kPixCodeBgr24},
                                                {&m_maskScaler, kPixCodeGray8},
                                                {&m_backgroundScaler, kPixCodeBgr24}};
    for (int i = 0; i < 3; ++i) {
        auto [scaler, code] = scalers[i];
        if ((*scaler)->Configure(width, height, width, height, code) != 0)
            return kSetUpFailed;
        m_scalerSizes[i] = {width, height, code};
    }

    const std::string framePath = m_paths.imageFolder + "/" + TFrameOverlay::kFramePictureName;
    const std::string basePath = m_paths.imageFolder + "/" + TFrameOverlay::kBasePictureName;
    if (FileExists(framePath) && FileExists(basePath)) {
        if (!m_pOverlay)
            m_pOverlay = std::make_unique<TFrameOverlay>();
        m_pOverlay->Load(framePath, basePath, width, height);
    } else {
        m_pOverlay.reset();
    }

    m_tracker.Reset();
    m_bReady = true;
    return kOk;
}

TCompositor::TFrameValues TCompositor::TakeValuesLocked() const {
    const auto& values = m_controls.ValuesLocked();
    TFrameValues frame{};
    frame.key.p0 = Clamped(values, kParamMatting);
    frame.key.p1 = 2 * Clamped(values, kParamReinforce);
    frame.key.p10 = 2 * Clamped(values, kParamShadow);
    frame.key.p11 = 2 * Clamped(values, kParamSpot);
    frame.key.bg = 0;
    frame.key.fg = 255;
    frame.level = std::clamp(255 - Clamped(values, kParamLevel), 0, 255);
    frame.algorithm = Clamped(values, kParamAlgorithm);
    if (m_pPlugIn && m_pPlugIn->IsLoaded()) {
        frame.beauty = {Clamped(values, kParamSmoothing), Clamped(values, kParamWhitening),
                        Clamped(values, kParamTexture)};
    }
    frame.debug0 = Clamped(values, kParamDebug0);
    frame.debug1 = Clamped(values, kParamDebug1);
    frame.flags = m_controls.ProcessFlagsLocked();
    if (m_bDebugSwitch)
        frame.flags |= kFlagDebugOverlay | kFlagMaskPicture;

    const TCapLayout& layout = m_controls.LayoutLocked();
    const int used = std::clamp<int>(layout.LayerCnt, 0, TCapLayout::kMaxLayers);
    for (int i = 0; i < used; ++i) {
        if (layout.layers[i].Id == TCapLayer::kPresenter)
            frame.presenter = &layout.layers[i];
        if (layout.layers[i].Id == TCapLayer::kFrameOverlay)
            frame.overlay = &layout.layers[i];
    }
    return frame;
}

bool TCompositor::DecisionDataChanged(const TFrameValues& values) const {
    return !m_bDecisionReady || values.level != m_nPreparedLevel ||
           !SameKey(values.key, m_preparedKey);
}

void TCompositor::PrepareDecisionData(const TFrameValues& values) {
    if (values.level != m_nPreparedLevel)
        m_pTables->BuildLevel(*m_pPool, values.level);
    m_pTables->BuildClassification(*m_pPool, values.key);
    m_preparedKey = values.key;
    m_nPreparedLevel = values.level;
    m_bDecisionReady = true;
    ++m_nDecisionRebuilds;
    m_tracker.Reset();
}

bool TCompositor::BudgetSpent(int64_t start, int budgetMs) const {
    return ElapsedMs(start) > budgetMs;
}

int TCompositor::Compose(uint8_t* destination, const uint8_t* source, const uint8_t* canvas) {
    const int64_t start = PerfCounter::Now();
    if (!m_bReady || destination == nullptr || source == nullptr || canvas == nullptr) {
        return kNotReady;
    }
    std::lock_guard guard(m_controls.Lock());
    const TFrameValues values = TakeValuesLocked();
    if (m_pOverlay && values.overlay != nullptr)
        m_pOverlay->Place(*values.overlay);
    int budgetMs = m_nBudgetMs;

    if (values.algorithm != m_nLastAlgorithm) {
        m_tracker.Reset();
        m_nLastAlgorithm = values.algorithm;
    }
    if (DecisionDataChanged(values)) {
        PrepareDecisionData(values);
        budgetMs = kRebuildBudgetMs;
    }

    int result = kOk;
    const uint8_t* composed = m_pPicture;
    if (BudgetSpent(start, budgetMs)) {
        result = kOverBudget;
    } else {
        const bool mattingOff = (values.flags & kFlagMattingOff) != 0;
        if (mattingOff) {
            PassThrough(source, values);
        } else {
            Matte(source, values);
        }
        if (!mattingOff && BudgetSpent(start, budgetMs)) {
            result = kOverBudget;
        } else {
            composed = Composite(destination, canvas, values);
            if (BudgetSpent(start, budgetMs))
                result = kOverBudget;
        }
    }
    m_nLastComposeMs = ElapsedMs(start);
    WriteDestination(destination, composed);
    return result;
}

void TCompositor::PassThrough(const uint8_t* source, const TFrameValues& values) {
    m_pPool->Dispatch(kKernelYuvToBgr,
                      kernels::TConvertArgs{m_pPicture, source, m_nWidth, m_nHeight, m_nInFormat});
    if (m_beauty.Applies(values.beauty)) {
        m_beauty.Apply(*m_pPool, m_pPicture, m_pBeautyScratch, m_nWidth, m_nHeight, values.beauty,
                       m_pTables->Classes());
    }
    m_pPool->Dispatch(kKernelFill, kernels::TFillArgs{m_pMask, Pixels(), 255});
}

void TCompositor::Matte(const uint8_t* source, const TFrameValues& values) {
    const uint8_t* input = source;
    if (m_beauty.Applies(values.beauty)) {
        // The plug-in works on BGR24: there and back into the source's format.
        m_pPool->Dispatch(kKernelYuvToBgr, kernels::TConvertArgs{m_pSparePicture, source, m_nWidth,
                                                                 m_nHeight, m_nInFormat});
        m_beauty.Apply(*m_pPool, m_pSparePicture, m_pBeautyScratch, m_nWidth, m_nHeight,
                       values.beauty, m_pTables->Classes());
        m_pPool->Dispatch(kKernelBgrToYuv, kernels::TConvertArgs{m_pMattInput, m_pSparePicture,
                                                                 m_nWidth, m_nHeight, m_nInFormat});
        input = m_pMattInput;
    }
    m_pPool->Dispatch(MattingKernelFor(m_nInFormat),
                      kernels::TMattArgs{m_pPicture, m_pMask, input, m_pTables->Classification(),
                                         m_nWidth, m_nHeight});
    m_pPool->Dispatch(kKernelMaskFilter,
                      kernels::TMaskFilterArgs{m_pSpareMask, m_pMask, m_nWidth, m_nHeight});
    std::swap(m_pMask, m_pSpareMask);
    m_tracker.Update(*m_pPool, m_pMask, m_nWidth, m_nHeight);
}

const uint8_t* TCompositor::Composite(uint8_t* destination, const uint8_t* canvas,
                                      const TFrameValues& values) {
    if (values.flags & kFlagMaskPicture) {
        m_pPool->Dispatch(kKernelGreyMask, kernels::TGreyMaskArgs{m_pPicture, m_pMask, Pixels()});
        return m_pPicture;
    }
    if (values.flags & kFlagPresenterOnly)
        return m_pPicture;

    const bool overlay = HasFrameOverlay() && values.overlay != nullptr &&
                         (values.overlay->Flag & TCapLayer::kFlagEnabled);
    // The canvas goes into the blend as it is (BGRA) unless the frame overlay
    // needs it as a picture of its own.
    const bool canvasAsIs = (values.flags & kFlagCanvasBackground) &&
                            !(values.flags & kFlagCanvasUnconverted) && !overlay;
    const uint8_t* background = canvasAsIs ? canvas : ChooseBackground(canvas, values.flags);
    if (overlay)
        background = ApplyFrameOverlay(background, *values.overlay);
    const bool mattingOff = (values.flags & kFlagMattingOff) != 0;
    // Matted colours come out of the classification table already levelled;
    // only the passed-through picture still needs the level adjustment.
    if (mattingOff && values.level < TColourTables::kIdentityLevel) {
        m_pPool->Dispatch(kKernelLevelApply,
                          kernels::TLevelApplyArgs{m_pPicture, m_pTables->LevelTable(), Pixels()});
    }
    if ((values.flags & kFlagDebugMode) && !mattingOff) {
        const int low = std::max(values.debug0, 0);
        const int high = 255 - std::max(values.debug1, 0);
        m_pPool->Dispatch(kKernelDebugTint,
                          kernels::TDebugTintArgs{m_pPicture, m_pMask, Pixels(), low, high});
    }
    PlacePresenter(values.presenter);
    // The output takes the blend directly, which saves a pass over the
    // picture afterwards; only the debug overlay draws on a BGR24 picture
    // first.
    const bool debugOverlay = (values.flags & kFlagDebugOverlay) != 0;
    const bool blendToBgra = m_nOutFormat == kFormatBgra && !debugOverlay;
    uint8_t* blended = m_nOutFormat == kFormatBgra && debugOverlay ? m_pPicture : destination;
    m_pPool->Dispatch(kKernelBlend,
                      kernels::TBlendArgs{m_pConverter.get(), m_pPicture, background, blended,
                                          m_pMask, m_nWidth, m_nHeight, canvasAsIs, blendToBgra});
    if (debugOverlay)
        DrawDebugOverlay(blended);
    return blended;
}

const uint8_t* TCompositor::ChooseBackground(const uint8_t* canvas, int32_t flags) {
    if ((flags & kFlagCanvasBackground) && canvas != nullptr) {
        if (flags & kFlagCanvasUnconverted)
            return canvas;
        m_pPool->Dispatch(kKernelCanvasToBgr, kernels::TPixelArgs{m_pBackground, canvas, Pixels()});
        return m_pBackground;
    }
    if (flags & kFlagBlackBackground)
        return m_pBlack.get();
    if (flags & kFlagWhiteBackground)
        return m_pWhite.get();
    if (flags & kFlagBlueBackground)
        return m_pBlue.get();
    return m_pBlack.get();
}

const uint8_t* TCompositor::ApplyFrameOverlay(const uint8_t* background, const TCapLayer& layer) {
    if (m_pOverlay->LayerIsEmpty())
        return m_pOverlay->BasePicture();
    uint8_t* target = m_pBeautyScratch;
    m_pPool->Dispatch(kKernelBandCopy,
                      kernels::TCopyArgs{target, m_pOverlay->BasePicture(), Pixels() * 3});
    const TRect& inner = m_pOverlay->InnerRect();
    if (!inner.IsEmpty())
        ScaleInto(m_backgroundScaler, kPixCodeBgr24, 3, background, target, inner);
    if (layer.Flag & TCapLayer::kFlagDrawFrame) {
        m_pPool->Dispatch(
            kKernelOverlayBlend,
            kernels::TBlendArgs{m_pConverter.get(), m_pOverlay->FramePicture(), target, target,
                                m_pOverlay->FrameAlpha(), m_nWidth, m_nHeight});
    }
    return target;
}

bool TCompositor::ScaleInto(TScaler& scaler, int code, int bytesPerPixel, const uint8_t* source,
                            uint8_t* target, const TRect& rect) {
    const int width = rect.right - rect.left + 1;
    const int height = rect.bottom - rect.top + 1;
    const int slot = &scaler == &m_pictureScaler ? 0 : (&scaler == &m_maskScaler ? 1 : 2);
    const std::array<int, 3> wanted{width, height, code};
    if (m_scalerSizes[slot] != wanted) {
        m_scalerSizes[slot] = {0, 0, 0};
        if (scaler->Configure(width, height, m_nWidth, m_nHeight, code) != 0)
            return false;
        m_scalerSizes[slot] = wanted;
    }
    const int32_t linesize = m_nWidth * bytesPerPixel;
    uint8_t* const destination[4] = {
        target + (static_cast<size_t>(rect.top) * m_nWidth + rect.left) * bytesPerPixel, nullptr,
        nullptr, nullptr};
    const int32_t destinationLinesizes[4] = {linesize, 0, 0, 0};
    const uint8_t* const sources[4] = {source, nullptr, nullptr, nullptr};
    const int32_t sourceLinesizes[4] = {linesize, 0, 0, 0};
    return scaler->Run(destination, destinationLinesizes, sources, sourceLinesizes) == 0;
}

void TCompositor::PlacePresenter(const TCapLayer* layer) {
    m_bPresenterScaled = false;
    m_rcPresenter = {0, 0, m_nWidth - 1, m_nHeight - 1};
    if (layer == nullptr)
        return;

    const TRect rect{layer->Position[0].x, layer->Position[0].y, layer->Position[2].x,
                     layer->Position[2].y};
    if ((layer->Flag & TCapLayer::kFlagEnabled) && rect.left == 0 && rect.top == 0 &&
        rect.right == m_nWidth - 1 && rect.bottom == m_nHeight - 1) {
        return;
    }
    const TRect clipped{std::max(rect.left, 0), std::max(rect.top, 0),
                        std::min(rect.right, m_nWidth - 1), std::min(rect.bottom, m_nHeight - 1)};
    bool placed = false;
    if ((layer->Flag & TCapLayer::kFlagEnabled) && !rect.IsEmpty() && !clipped.IsEmpty()) {
        for (auto [plane, bytes] : {std::pair{m_pSparePicture, 3}, std::pair{m_pSpareMask, 1}}) {
            m_pPool->Dispatch(kKernelClearOutside, kernels::TClearOutsideArgs{
                                                       plane, bytes, m_nWidth, m_nHeight, clipped});
        }
        placed =
            ScaleInto(m_pictureScaler, kPixCodeBgr24, 3, m_pPicture, m_pSparePicture, clipped) &&
            ScaleInto(m_maskScaler, kPixCodeGray8, 1, m_pMask, m_pSpareMask, clipped);
    }
    if (placed) {
        std::swap(m_pPicture, m_pSparePicture);
        std::swap(m_pMask, m_pSpareMask);
        m_rcPresenter = clipped;
        m_bPresenterScaled = true;
        return;
    }
    // Hidden (or a rectangle that cannot be drawn): no presenter at all.
    m_pPool->Dispatch(kKernelFill, kernels::TFillArgs{m_pPicture, Pixels() * 3, 0});
    m_pPool->Dispatch(kKernelFill, kernels::TFillArgs{m_pMask, Pixels(), 0});
    m_rcPresenter = {0, 0, -1, -1};
}

void TCompositor::DrawDebugOverlay(uint8_t* picture) {
    TRect subject = m_tracker.Subject();
    const bool visible = m_tracker.HasSubject() && !m_rcPresenter.IsEmpty();
    if (visible && m_bPresenterScaled) {
        // From the matted picture into the rectangle it was scaled to.
        const double scaleX = (m_rcPresenter.right - m_rcPresenter.left + 1) / double(m_nWidth);
        const double scaleY = (m_rcPresenter.bottom - m_rcPresenter.top + 1) / double(m_nHeight);
        subject = {m_rcPresenter.left + static_cast<int>(subject.left * scaleX),
                   m_rcPresenter.top + static_cast<int>(subject.top * scaleY),
                   m_rcPresenter.left + static_cast<int>(subject.right * scaleX),
                   m_rcPresenter.top + static_cast<int>(subject.bottom * scaleY)};
    }
    TDebugOverlay::Draw(*m_pPool, picture, m_pMask, m_nWidth, m_nHeight,
                        visible ? &subject : nullptr);
}

void TCompositor::WriteDestination(uint8_t* destination, const uint8_t* result) {
    if (result == destination)
        return;
    if (m_nOutFormat == kFormatBgra) {
        m_pPool->Dispatch(kKernelBgrToBgra, kernels::TPixelArgs{destination, result, Pixels()});
    } else {
        m_pPool->Dispatch(kKernelBandCopy, kernels::TCopyArgs{destination, result, Pixels() * 3});
    }
}

}  // namespace pelorn
