#include "platform/FakeDisplayBackend.h"

namespace platform {
namespace {

TGammaRamp IdentityRamp() {
    TGammaRamp ramp;
    for (int channel = 0; channel < 3; ++channel) {
        for (int k = 0; k < kGammaEntries; ++k) ramp[channel * kGammaEntries + k] = k * 256;
    }
    return ramp;
}

}  // namespace

void TFakeDisplayBackend::AddDisplay(const std::string& deviceName, TDisplayRect monitor,
                                     bool primary) {
    std::lock_guard guard(m_lock);
    m_displays.push_back({{deviceName, monitor, primary}, IdentityRamp(), 0});
}

void TFakeDisplayBackend::FailGamma(bool fail) {
    std::lock_guard guard(m_lock);
    m_bFailGamma = fail;
}

TGammaRamp TFakeDisplayBackend::Ramp(const std::string& deviceName) const {
    std::lock_guard guard(m_lock);
    for (const TFakeDisplay& display : m_displays) {
        if (display.info.deviceName == deviceName) return display.ramp;
    }
    return {};
}

int TFakeDisplayBackend::SetRampCount(const std::string& deviceName) const {
    std::lock_guard guard(m_lock);
    for (const TFakeDisplay& display : m_displays) {
        if (display.info.deviceName == deviceName) return display.setCount;
    }
    return 0;
}

int TFakeDisplayBackend::OpenContextCount() const {
    std::lock_guard guard(m_lock);
    return static_cast<int>(m_contexts.size());
}

std::vector<TDisplayInfo> TFakeDisplayBackend::EnumerateDisplays() {
    std::lock_guard guard(m_lock);
    std::vector<TDisplayInfo> list;
    for (const TFakeDisplay& display : m_displays) list.push_back(display.info);
    return list;
}

uintptr_t TFakeDisplayBackend::OpenContext(const std::string& deviceName) {
    std::lock_guard guard(m_lock);
    for (size_t i = 0; i < m_displays.size(); ++i) {
        if (m_displays[i].info.deviceName != deviceName) continue;
        const uintptr_t handle = m_hNext++;
        m_contexts[handle] = i;
        return handle;
    }
    return 0;
}

void TFakeDisplayBackend::CloseContext(uintptr_t context) {
    std::lock_guard guard(m_lock);
    m_contexts.erase(context);
}

TFakeDisplayBackend::TFakeDisplay* TFakeDisplayBackend::Find(uintptr_t context) {
    const auto found = m_contexts.find(context);
    return found == m_contexts.end() ? nullptr : &m_displays[found->second];
}

bool TFakeDisplayBackend::GetGammaRamp(uintptr_t context, TGammaRamp& ramp) {
    std::lock_guard guard(m_lock);
    TFakeDisplay* display = Find(context);
    if (display == nullptr || m_bFailGamma) return false;
    ramp = display->ramp;
    return true;
}

bool TFakeDisplayBackend::SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) {
    std::lock_guard guard(m_lock);
    TFakeDisplay* display = Find(context);
    if (display == nullptr || m_bFailGamma) return false;
    display->ramp = ramp;
    ++display->setCount;
    return true;
}

}  // namespace platform
