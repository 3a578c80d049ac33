#pragma once

#include <string>

#include "platform/DisplayBackend.h"

namespace platform {

// Displays of an X server through XRandR: monitors from XRRGetMonitors, named
// by their first output, and the CRTC gamma of that output. Every operation
// opens its own connection and closes it again, so a context stays valid
// across mode changes and is not bound to a thread; without a reachable
// server the list is empty and every gamma operation fails.
class TXDisplayBackend final : public IDisplayBackend {
public:
    // An empty name means $DISPLAY.
    explicit TXDisplayBackend(std::string displayName = {});

    std::vector<TDisplayInfo> EnumerateDisplays() override;
    uintptr_t OpenContext(const std::string& deviceName) override;
    void CloseContext(uintptr_t context) override;
    bool GetGammaRamp(uintptr_t context, TGammaRamp& ramp) override;
    bool SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) override;

private:
    std::string m_strDisplayName;
};

}  // namespace platform
