#pragma once

#include <cstdint>
#include <memory>

#include "engine/DisplayList.h"
#include "engine/DzOqcEngine.h"
#include "engine/ICapMattEngine.h"
#include "engine/InputRateStats.h"
#include "engine/ScreenTint.h"
#include "engine/TEngineLog.h"
#include "engine/capture/ScreenCapManager.h"
#include "engine/capture/TFileCaptor.h"
#include "engine/capture/TVideoCaptor.h"
#include "engine/VCamWriter.h"

namespace pelorn {

// The capture engine. Owns every source and worker; all interface operations
// run on the console's user-interface thread, DoInputPin on the main source's
// reader thread and DoVideoOutput on the output worker.
class TCapEngineMain final : public ICapMattEngine {
public:
    static constexpr size_t kCanvasBytes = 1920 * 1080 * 4;
    static constexpr uint16_t kRateWindowMs = 2000;
    // Bit 0 of flags >> 16.
    static constexpr unsigned kFlagVirtualCamera = 1;
    static constexpr int kScreenIntervalMs = 60;

    TCapEngineMain(FrameCallback callback, void* user, unsigned flags);
    ~TCapEngineMain();
    TCapEngineMain(const TCapEngineMain&) = delete;
    TCapEngineMain& operator=(const TCapEngineMain&) = delete;

    int Open(TCapOpenParam* pOpenParam) override;
    int Stop() override;
    int GetState(TCapOpenParam** out) override;
    int ListScreens(std::string* names, unsigned* primary, int max) override;
    int GetParamList(TCapParamList* list) override;
    int SetLayout(TCapLayout* layout) override;
    int GetParamFlags(int index) override;
    int GetParam(int index) override;
    int SetParam(int value, int index) override;
    int GetProcessFlags() override;
    int SetProcessFlags(int flags) override;
    int SetScreenRegion(int source, unsigned width, unsigned height, TCapRegion* region) override;
    TCapOpenParam* GetOpenParam() override;

    // The sources' InputFrameCallback, with the engine as user pointer.
    static void InputPin(AVFrame* frame, void* self);
    void DoInputPin(AVFrame* frame);
    // DzOqcEngine's output callback, with the engine as user pointer.
    static void VideoOutput(AVFrame* frame, void* self);
    void DoVideoOutput(AVFrame* frame);

    DzOqcEngine& OutputQueue() { return *m_pOqc; }
    // The virtual-camera writer, or null when the creation flag was clear.
    VCamWriter* VirtualCamera() { return m_pVCam.get(); }
    const InputRateStats& RateStats() const { return *m_pRateStats; }
    ScreenTint& Tint() { return *m_pScreenTint; }
    const DisplayList& Displays() const { return *m_pDisplays; }
    TVideoCaptor& Camera() { return *m_pVideoCaptor; }
    int32_t InputCount() const { return m_nInputCount; }
    // The screen picture the compositor reads, 1920 x 1080 x 4 bytes.
    const uint8_t* Canvas() const { return m_pCanvas.get(); }

private:
    bool NeedsReopen(const TCapOpenParam& request) const;
    int ReopenMainSource(const TCapOpenParam& request);
    void StopMainSource();
    int OpenFileSource(const TCapOpenParam& request, TPipelineConfig& config);
    int OpenCameraSource(const TCapOpenParam& request, TPipelineConfig& config);
    void StartMainSource(int16_t kind);
    void KeepOpenParam(const TCapOpenParam& request);
    int OpenScreenSource(const TCapSource& screen);

    TEngineLog m_log;
    std::unique_ptr<DzOqcEngine> m_pOqc;
    std::unique_ptr<VCamWriter> m_pVCam;
    std::unique_ptr<TCapOpenParam> m_pOpenParam;
    std::unique_ptr<ScreenTint> m_pScreenTint;
    std::unique_ptr<DisplayList> m_pDisplays;
    int32_t m_nTintParamIndex = -1;
    std::unique_ptr<InputRateStats> m_pRateStats;
    std::unique_ptr<uint8_t[]> m_pCanvas;
    std::unique_ptr<TVideoCaptor> m_pVideoCaptor;
    std::unique_ptr<TFileCaptor> m_pFileCaptor;
    std::unique_ptr<ScreenCapManager> m_pScreenCap;
    FrameCallback m_pCallback;
    void* m_pUser;
    unsigned m_nCreateFlags;  // the creation flags shifted right by 16
    int32_t m_nInputCount = 0;  // reader thread only
};

}  // namespace pelorn
