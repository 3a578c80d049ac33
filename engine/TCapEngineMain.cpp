#include "engine/TCapEngineMain.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "engine/ParamTable.h"
#include "engine/capture/CaptureQuery.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

using common::ErrorTrail;

constexpr char kCameraReadError[] = "摄像机读取错误， 请检查设备并重新选择摄像机";

bool IsSupportedOutputFormat(int16_t format) {
    return format == AV_PIX_FMT_BGR24 || format == AV_PIX_FMT_BGRA ||
           format == AV_PIX_FMT_YUYV422;
}

bool SameRegion(const TCapRegion& a, const TCapRegion& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// 1 same size, 4 smaller in both directions, 8 larger in both; 0 otherwise.
int16_t FileScalingMode(const TCapVideoFormat& picture, const TCapOpenParam& request) {
    if (picture.width == request.outWidth && picture.height == request.outHeight) {
        return kModeSameSize;
    }
    if (picture.width < request.outWidth && picture.height < request.outHeight) {
        return kModeScaleUp;
    }
    if (picture.width > request.outWidth && picture.height > request.outHeight) {
        return kModeScaleDown;
    }
    return 0;
}

void CopySource(const TCapSource& from, TCapSource& to) {
    to.kind = from.kind;
    to.name = from.name;
    to.region = from.region;
}

}  // namespace

TCapEngineMain::TCapEngineMain(FrameCallback callback, void* user, unsigned flags)
    : m_pCallback(callback), m_pUser(user), m_nCreateFlags(flags >> 16) {
    avdevice_register_all();
    m_pScreenTint = std::make_unique<ScreenTint>();
    m_pDisplays = std::make_unique<DisplayList>();
    m_pRateStats = std::make_unique<InputRateStats>();
    m_pCanvas = std::make_unique<uint8_t[]>(kCanvasBytes);
    m_pVideoCaptor = std::make_unique<TVideoCaptor>();
    m_pFileCaptor = std::make_unique<TFileCaptor>();
    m_pScreenCap = std::make_unique<ScreenCapManager>();
    m_pOqc = std::make_unique<DzOqcEngine>(&TCapEngineMain::VideoOutput, this, &m_log);
    if (m_nCreateFlags & kFlagVirtualCamera) {
        m_pVCam = std::make_unique<VCamWriter>();
        // A block that cannot be mapped leaves the writer inert: every frame
        // then reports no consumer.
        m_pVCam->Create();
    }
}

TCapEngineMain::~TCapEngineMain() {
    m_log.Line("TCapEngineMain::~TCapEngineMain begin\n");
    if (m_pOpenParam) Stop();
    m_pOqc.reset();
    m_pVCam.reset();
    m_pScreenCap.reset();
    m_pScreenTint.reset();  // restores the tinted monitor
    m_pDisplays.reset();
    m_pRateStats.reset();
    m_pVideoCaptor.reset();
    m_pFileCaptor.reset();
    m_pCanvas.reset();
}

int TCapEngineMain::Open(TCapOpenParam* pOpenParam) {
    if (pOpenParam == nullptr) {
        ErrorTrail::Add("pOpenParam = NULL");
        return 1;
    }
    m_log.SetSink(pOpenParam->logSink);
    if (!IsSupportedOutputFormat(pOpenParam->outFormat)) {
        ErrorTrail::Add("不支持的颜色输出格式");
        return 1;
    }

    const bool reopen = NeedsReopen(*pOpenParam);
    if (reopen && ReopenMainSource(*pOpenParam) != 0) return 1;
    if (pOpenParam->sources[1].kind == kCapSourceScreen && OpenScreenSource(pOpenParam->sources[1]) != 0) {
        return 1;
    }

    if (m_pVCam) m_pVCam->Reset(pOpenParam->outWidth, pOpenParam->outHeight, pOpenParam->outFormat);
    m_pRateStats->RequestReset(kRateWindowMs);
    if (reopen) StartMainSource(pOpenParam->sources[0].kind);

    if (!m_pOpenParam) {
        m_pOpenParam = std::make_unique<TCapOpenParam>();
        m_pOpenParam->actualFormat = kDefaultVideoFormat;
    }
    // What the main source delivers; without one the input is the default block.
    pOpenParam->actualFormat = kDefaultVideoFormat;
    if (pOpenParam->sources[0].kind == kCapSourceFile) {
        m_pFileCaptor->GetFormat(&pOpenParam->actualFormat);
    } else if (pOpenParam->sources[0].kind == kCapSourceCamera) {
        m_pVideoCaptor->GetFormat(&pOpenParam->actualFormat);
    }
    KeepOpenParam(*pOpenParam);
    return 0;
}

// The display by its index in the list; an index outside it opens on no
// display, so it fails as an unopenable display does. "Already captures"
// means an opened capturer whose worker runs: after Stop or a failed open
// the capture is opened afresh.
int TCapEngineMain::OpenScreenSource(const TCapSource& screen) {
    const long index = std::strtol(screen.name.c_str(), nullptr, 10);
    const bool listed = index >= 0 && index < m_pDisplays->Count();
    const std::string deviceName = listed ? m_pDisplays->At(static_cast<int>(index)).deviceName : std::string();
    const TProcessStage& compositor = m_pOqc->Stage(kStageCompositor);
    const std::u16string wideName = common::Utf8ToUtf16(deviceName);
    if (listed && m_pScreenCap->IsOpen() && m_pScreenCap->IsRunning() && m_pScreenCap->DeviceName() == wideName) {
        return m_pScreenCap->SetRegion(compositor.inWidth, compositor.inHeight, nullptr);
    }
    m_pScreenTint->Restore();
    if (listed) m_pScreenTint->Select(deviceName);
    m_pScreenCap->Stop();
    ScreenOpenParam param;
    std::copy_n(wideName.begin(), std::min<size_t>(wideName.size(), 127), param.deviceName);
    param.target = m_pCanvas.get();
    param.width = compositor.inWidth;
    param.height = compositor.inHeight;
    param.interval = kScreenIntervalMs;
    if (m_pScreenCap->Open(&param) != 0) return 1;
    m_pScreenCap->Start();
    return 0;
}

bool TCapEngineMain::NeedsReopen(const TCapOpenParam& request) const {
    if (!m_pOpenParam) return true;
    const TCapSource& held = m_pOpenParam->sources[0];
    const TCapSource& asked = request.sources[0];
    const bool same = held.kind == asked.kind && held.name == asked.name &&
                      SameRegion(held.region, asked.region) &&
                      m_pOpenParam->outWidth == request.outWidth &&
                      m_pOpenParam->outHeight == request.outHeight &&
                      m_pOpenParam->outFormat == request.outFormat &&
                      m_pOpenParam->outFrameRate == request.outFrameRate;
    // Only a media file keeps running; a camera is always opened afresh. A
    // file that a failed Open stopped, or whose playback has ended, is opened
    // afresh too, or it would never play again.
    return !same || asked.kind == kCapSourceCamera ||
           (asked.kind == kCapSourceFile && !m_pFileCaptor->IsPlaying());
}

int TCapEngineMain::ReopenMainSource(const TCapOpenParam& request) {
    StopMainSource();
    TPipelineConfig config{};
    switch (request.sources[0].kind) {
        case kCapSourceNone:
            config = {0, 1280, 720, AV_PIX_FMT_YUYV422, request.outWidth, request.outHeight,
                      request.outFormat};
            break;
        case kCapSourceCamera:
            if (OpenCameraSource(request, config) != 0) return 1;
            break;
        case kCapSourceFile:
            if (OpenFileSource(request, config) != 0) return 1;
            break;
        default:
            ErrorTrail::Add("主信号初始化失败");
            return 1;
    }
    m_pOqc->Configure(m_pCanvas.get(), &config);
    return 0;
}

void TCapEngineMain::StopMainSource() {
    m_pVideoCaptor->Stop();
    m_pFileCaptor->Stop();
}

// Opens the file with looping on and picks the scaling mode from its picture
// size; a file left unusable is closed again.
int TCapEngineMain::OpenFileSource(const TCapOpenParam& request, TPipelineConfig& config) {
    if (m_pFileCaptor->Open(request.sources[0].name, &TCapEngineMain::InputPin, nullptr, this, 1) !=
        0) {
        m_pFileCaptor->Stop();
        ErrorTrail::Add("主信号初始化失败");
        return 1;
    }
    TCapVideoFormat picture = kDefaultVideoFormat;
    m_pFileCaptor->GetFormat(&picture);
    config = {FileScalingMode(picture, request), picture.width, picture.height,
              picture.pixelFormat, request.outWidth, request.outHeight, request.outFormat};
    // Also refused: pictures the chain cannot carry (an unknown pixel format,
    // more than its buffers hold).
    if (config.mode == 0 || !DzOqcEngine::CanProcess(config)) {
        m_pFileCaptor->Stop();
        ErrorTrail::Add("不支持的文件格式");
        return 1;
    }
    return 0;
}

// Asks the camera for the mode that best serves the output and opens it in
// the format that mode came from (FFmpeg would otherwise pick its own first
// format, often a slow raw one); a failure at another rate is tried once at
// 30.
int TCapEngineMain::OpenCameraSource(const TCapOpenParam& request, TPipelineConfig& config) {
    const std::string& name = request.sources[0].name;
    int16_t width = kDefaultVideoFormat.width;
    int16_t height = kDefaultVideoFormat.height;
    int16_t rate = kDefaultVideoFormat.frameRate;
    int32_t pixelRequest = -1;
    const int mode = QueryCaptureMode(name.c_str(), request.outWidth, request.outHeight,
                                      request.outFrameRate, &width, &height, &rate, &pixelRequest);
    if (mode == 0) {
        ErrorTrail::Add("不支持的输出格式");
        return 1;
    }
    TCamOpenParam camera{name, width, height, rate, pixelRequest, &TCapEngineMain::InputPin, 0, this};
    bool opened = m_pVideoCaptor->Open(&camera, nullptr) != 0;
    if (!opened && camera.frameRate != 30) {
        camera.frameRate = 30;
        opened = m_pVideoCaptor->Open(&camera, nullptr) != 0;
    }
    if (!opened) {
        ErrorTrail::Add("主信号初始化失败");
        return 1;
    }
    TCapVideoFormat picture = kDefaultVideoFormat;
    m_pVideoCaptor->GetFormat(&picture);
    config = {static_cast<int16_t>(mode), picture.width, picture.height, picture.pixelFormat,
              request.outWidth, request.outHeight, request.outFormat};
    if (!DzOqcEngine::CanProcess(config)) {
        m_pVideoCaptor->Stop();
        ErrorTrail::Add("不支持的输出格式");
        return 1;
    }
    return 0;
}

void TCapEngineMain::StartMainSource(int16_t kind) {
    if (kind == kCapSourceCamera) m_pVideoCaptor->Start();
    if (kind == kCapSourceFile) m_pFileCaptor->Start();
}

void TCapEngineMain::KeepOpenParam(const TCapOpenParam& request) {
    TCapOpenParam& kept = *m_pOpenParam;
    kept.ownerWindow = request.ownerWindow;
    CopySource(request.sources[0], kept.sources[0]);
    CopySource(request.sources[1], kept.sources[1]);
    kept.outWidth = request.outWidth;
    kept.outHeight = request.outHeight;
    kept.outFormat = request.outFormat;
    kept.outFrameRate = request.outFrameRate;
    kept.logSink = request.logSink;
    for (int i = 0; i < 3; ++i) kept.reserved[i] = request.reserved[i];
}

int TCapEngineMain::Stop() {
    if (!m_pOpenParam) return 0;
    m_log.Line("TCapEngineMain::Stop()\n");
    m_pScreenTint->Restore();
    StopMainSource();
    m_pScreenCap->Stop();
    m_pOpenParam.reset();
    return 0;
}

int TCapEngineMain::GetState(TCapOpenParam** out) {
    if (out != nullptr) *out = m_pOpenParam.get();
    if (m_pOpenParam && m_pOpenParam->sources[0].kind == kCapSourceFile) {
        return m_pFileCaptor->GetFormat(nullptr);
    }
    if (m_pOpenParam && m_pOpenParam->sources[0].kind == kCapSourceCamera) {
        return m_pVideoCaptor->GetState();
    }
    return 0;
}

int TCapEngineMain::ListScreens(std::string* names, unsigned* primary, int max) {
    return ListDisplayNames(*m_pDisplays, names, primary, max);
}

int TCapEngineMain::GetParamList(TCapParamList* list) {
    const int count = ListUserParams(list);
    m_nTintParamIndex = FindTintParam();
    return count;
}

int TCapEngineMain::SetLayout(TCapLayout* layout) {
    if (layout != nullptr) m_pOqc->Controls().SetLayout(*layout);
    return 0;
}

int TCapEngineMain::GetParamFlags(int index) {
    return IsParamIndex(index) ? ParamTable()[index].flags : 0;
}

int TCapEngineMain::GetParam(int index) { return m_pOqc->Controls().GetValue(index); }

int TCapEngineMain::SetParam(int value, int index) {
    // Before GetParamList has found the tint parameter its index is -1.
    if (index == m_nTintParamIndex && IsParamIndex(index)) m_pScreenTint->SetLevel(value);
    m_pOqc->Controls().SetValue(index, value);
    return 0;
}

int TCapEngineMain::GetProcessFlags() { return m_pOqc->Controls().GetProcessFlags(); }

int TCapEngineMain::SetProcessFlags(int flags) {
    m_pOqc->Controls().SetProcessFlags(flags);
    return 0;
}

int TCapEngineMain::SetScreenRegion(int source, unsigned width, unsigned height,
                                    TCapRegion* region) {
    if (!m_pOpenParam || source < 0 || source > 1) return 0;
    int result = 0;
    if (m_pOpenParam->sources[source].kind == kCapSourceScreen) {
        result = m_pScreenCap->SetRegion(static_cast<int>(width), static_cast<int>(height), region);
    }
    if (region != nullptr) m_pOpenParam->sources[source].region = *region;
    return result;
}

TCapOpenParam* TCapEngineMain::GetOpenParam() { return m_pOpenParam.get(); }

void TCapEngineMain::InputPin(AVFrame* frame, void* self) {
    static_cast<TCapEngineMain*>(self)->DoInputPin(frame);
}

void TCapEngineMain::DoInputPin(AVFrame* frame) {
    if (m_log.Enabled()) m_log.Printf("\nTCapEngineMain::DoInputPin Begin, %d\n", m_nInputCount);
    if (frame == nullptr) {
        ErrorTrail::Add(kCameraReadError);
        m_log.Line(kCameraReadError);
        platform::ShowMessageBox(ErrorTrail::Take());
        return;
    }
    frame->pkt_duration = av_gettime_relative();
    frame->pkt_size = m_nInputCount;
    frame->pkt_dts = m_pRateStats->Update(platform::PerfCounter::Now());
    m_pOqc->Push(frame);
    ++m_nInputCount;
    m_log.Line("TCapEngineMain::DoInputPin End\n");
}

void TCapEngineMain::VideoOutput(AVFrame* frame, void* self) {
    static_cast<TCapEngineMain*>(self)->DoVideoOutput(frame);
}

void TCapEngineMain::DoVideoOutput(AVFrame* frame) {
    m_log.Line("TCapEngineMain::DoVideoOutput begin\n");
    m_pScreenCap->Wake();
    const int cameraInUse = m_pVCam ? m_pVCam->Write(frame) : 0;
    if (m_pCallback != nullptr) {
        m_pCallback(reinterpret_cast<unsigned char*>(frame), m_pUser, cameraInUse);
    }
    m_log.Line("TCapEngineMain::DoVideoOutput end\n");
}

}  // namespace pelorn
