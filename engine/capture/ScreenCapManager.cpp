#include "engine/capture/ScreenCapManager.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "engine/capture/TXShmScreenCap.h"
#include "engine/capture/TXlibScreenCap.h"
#include "engine/modules/GpuPreference.h"
#include "platform/DrmAdapters.h"
#include "platform/PerfCounter.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

constexpr int kWarmUpTries = 5;
constexpr int kWarmUpPauseMs = 40;

bool GpuPreferenceInPlace() {
    platform::TRegKey key;
    std::string value;
    return key.Open(platform::RegHive::CurrentUser, kGpuPreferenceKey, platform::RegAccess::Read) ==
               platform::kRegOk &&
           key.QueryString(GpuPreferenceValueName(), &value) == platform::kRegOk && value == kGpuPreferenceValue;
}

}  // namespace

ScreenCapManager::ScreenCapManager()
    : ScreenCapManager(std::make_unique<TXShmScreenCap>(), std::make_unique<TXlibScreenCap>()) {}

ScreenCapManager::ScreenCapManager(std::unique_ptr<ICapScreen> shm, std::unique_ptr<ICapScreen> xlib)
    : m_pShm(std::move(shm)), m_pXlib(std::move(xlib)) {}

ScreenCapManager::~ScreenCapManager() { m_worker.Destroy(); }

int32_t ScreenCapManager::Open(const ScreenOpenParam* param) {
    if (param == nullptr || param->target == nullptr) return kInvalidArg;
    m_pTarget = param->target;
    m_nInterval = static_cast<uint16_t>(param->interval);
    m_pCallback = param->callback;
    m_pUser = param->user;
    const std::u16string_view name(param->deviceName,
                                   std::find(param->deviceName, param->deviceName + 128, u'\0') - param->deviceName);
    m_strDeviceName = name;
    const std::string deviceName = common::Utf16ToUtf8(name);
    m_pActive = nullptr;
    ICapScreen* opened = nullptr;
    if (m_pShm->Open(deviceName, param->width, param->height, nullptr) == 0) {
        opened = m_pShm.get();
    } else if (m_pXlib->Open(deviceName, param->width, param->height, nullptr) == 0) {
        opened = m_pXlib.get();
    } else {
        ExplainFailure();
        return 1;
    }
    m_pActive = opened;
    if (SetRegion(param->width, param->height, nullptr) != 0) {
        m_pActive = nullptr;
        return 1;
    }
    return 0;
}

// The display belongs to an adapter of ours or not; with an Intel one the
// likely cause is the graphics preference, so the trail says whether it is
// in place.
void ScreenCapManager::ExplainFailure() {
    const std::vector<uint16_t> vendors = platform::DrmAdapterVendors();
    if (std::find(vendors.begin(), vendors.end(), platform::kIntelVendorId) != vendors.end()) {
        common::ErrorTrail::Take();
        common::ErrorTrail::AddRet(kGpuPreferenceText, GpuPreferenceInPlace() ? 1 : 0);
    } else {
        common::ErrorTrail::Add(kNoIntelText);
    }
}

int ScreenCapManager::SetRegion(int width, int height, const TCapRegion* region) {
    if (m_pActive == nullptr || m_pActive->SetSize(width, height, region) != 0) return 1;
    m_nWidth = static_cast<int16_t>(width);
    m_nHeight = static_cast<int16_t>(height);
    if (m_pActive == m_pShm.get()) {
        // The first grabs after a change may come back empty.
        for (int i = 0; i < kWarmUpTries && m_pActive->Capture(nullptr) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kWarmUpPauseMs));
        }
    }
    return 0;
}

void ScreenCapManager::Start() {
    m_worker.Start(&ScreenCapManager::Loop, this);
    m_bRunning = true;
}

void ScreenCapManager::Stop() {
    m_worker.Stop();
    m_bRunning = false;
}

void ScreenCapManager::Loop(void* argument) {
    ScreenCapManager& self = *static_cast<ScreenCapManager*>(argument);
    const uint16_t interval = self.m_nInterval;
    const int64_t ticksPerMs = platform::PerfCounter::Frequency() / 1000;
    self.m_nLastCapture = platform::PerfCounter::Now();
    AVFrame* frame = av_frame_alloc();
    while (!self.m_worker.ExitRequested()) {
        if (interval == 0) {
            self.m_worker.WaitForWake();
        } else {
            self.m_worker.WaitForWake(interval);
        }
        if (self.m_worker.ExitRequested()) break;
        const int64_t now = platform::PerfCounter::Now();
        const auto elapsed = static_cast<uint16_t>((now - self.m_nLastCapture) / ticksPerMs);
        if (interval == 0 || elapsed >= interval) {
            self.m_nLastCapture = now;
            self.CaptureOnce(frame);
        }
        self.m_worker.ResetWake();
    }
    av_frame_free(&frame);
    self.m_worker.ConfirmExit();
}

void ScreenCapManager::CaptureOnce(AVFrame* frame) {
    if (m_pActive == nullptr) return;
    if (m_pCallback == nullptr) {
        m_pActive->Capture(m_pTarget);
        return;
    }
    if (frame == nullptr) return;
    av_frame_unref(frame);
    frame->format = AV_PIX_FMT_BGRA;
    frame->width = m_nWidth;
    frame->height = m_nHeight;
    frame->pts = av_gettime_relative();
    if (av_frame_get_buffer(frame, 1) < 0) return;
    if (m_pActive->Capture(frame->data[0]) != 0) m_pCallback(frame, m_pUser);
}

}  // namespace pelorn
