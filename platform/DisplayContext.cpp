#include "platform/DisplayContext.h"

namespace platform {

bool TDisplayContext::Open(const std::string& deviceName) {
    Release();
    IDisplayBackend& backend = DisplayBackend();
    m_hContext = backend.OpenContext(deviceName);
    if (m_hContext != 0) m_pBackend = &backend;
    return m_hContext != 0;
}

void TDisplayContext::Release() {
    if (m_hContext != 0) m_pBackend->CloseContext(m_hContext);
    m_hContext = 0;
    m_pBackend = nullptr;
}

bool TDisplayContext::GetGammaRamp(TGammaRamp& ramp) const {
    return m_hContext != 0 && m_pBackend->GetGammaRamp(m_hContext, ramp);
}

bool TDisplayContext::SetGammaRamp(const TGammaRamp& ramp) const {
    return m_hContext != 0 && m_pBackend->SetGammaRamp(m_hContext, ramp);
}

}  // namespace platform
