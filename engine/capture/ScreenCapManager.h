#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/WorkerThread.h"
#include "engine/ICapMattEngine.h"
#include "engine/capture/ICapScreen.h"

namespace pelorn {

struct ScreenOpenParam {
    char16_t deviceName[128] = {};  // as DisplayList names the display
    uint8_t* target = nullptr;      // receives captures when there is no callback; required
    int32_t width = 0;
    int32_t height = 0;
    int32_t interval = 0;  // ms between captures; 0 captures on wakes only
    InputFrameCallback callback = nullptr;
    void* user = nullptr;
};

// Owns both screen capturers, picks one at Open (shared memory first),
// explains a failure of both and runs the capture worker, which refreshes
// `target` (or hands fresh BGRA frames to `callback`) when woken and at most
// once per interval.
class ScreenCapManager {
public:
    static constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
    static constexpr char kNoIntelText[] = "抓屏初始化失败：未找到Intel集成显卡";
    static constexpr char kGpuPreferenceText[] = "抓屏初始化失败, GpuPreferences";

    ScreenCapManager();
    // Tests put their own capturers in.
    ScreenCapManager(std::unique_ptr<ICapScreen> shm, std::unique_ptr<ICapScreen> xlib);
    ~ScreenCapManager();
    ScreenCapManager(const ScreenCapManager&) = delete;
    ScreenCapManager& operator=(const ScreenCapManager&) = delete;

    // 0; kInvalidArg for a null record or target; 1 when neither capturer
    // opens (or the size is refused), with the reason on the error trail.
    int32_t Open(const ScreenOpenParam* param);
    // New output size and optional rectangle for the open capturer; 1 when
    // it refuses them (the earlier size stays).
    int SetRegion(int width, int height, const TCapRegion* region);

    // Start after Open; the engine wakes the worker after every output frame.
    void Start();
    void Stop();
    void Wake() { m_worker.Wake(); }
    bool IsOpen() const { return m_pActive != nullptr; }
    // The capturer Open chose, or null.
    const ICapScreen* Active() const { return m_pActive; }
    // Between Start and Stop.
    bool IsRunning() const { return m_bRunning; }
    const std::u16string& DeviceName() const { return m_strDeviceName; }

private:
    static void Loop(void* self);
    void CaptureOnce(AVFrame* frame);
    static void ExplainFailure();

    common::WorkerThread m_worker;
    std::unique_ptr<ICapScreen> m_pShm;
    std::unique_ptr<ICapScreen> m_pXlib;
    ICapScreen* m_pActive = nullptr;
    InputFrameCallback m_pCallback = nullptr;
    void* m_pUser = nullptr;
    // Read by the worker for callback frames while SetRegion may change them.
    std::atomic<int16_t> m_nWidth{0};
    std::atomic<int16_t> m_nHeight{0};
    uint8_t* m_pTarget = nullptr;
    std::u16string m_strDeviceName;
    uint16_t m_nInterval = 0;
    int64_t m_nLastCapture = 0;
    bool m_bRunning = false;  // the owner's thread only
};

}  // namespace pelorn
