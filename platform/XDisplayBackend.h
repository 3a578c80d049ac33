#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/DisplayBackend.h"

// Xlib's Display, without Xlib in every includer.
struct _XDisplay;

namespace platform {

// Displays of an X server through XRandR: monitors from XRRGetMonitors, named
// by their first output, and the CRTC gamma of that output. A context names
// the output and finds its CRTC again on every use, so it stays valid across
// mode changes. The backend keeps one connection, used by one operation at a
// time from any thread; a server that went away is connected again on the
// next operation. Without a reachable server the list is empty and every
// gamma operation fails.
class TXDisplayBackend final : public IDisplayBackend {
public:
    // An empty name means $DISPLAY.
    explicit TXDisplayBackend(std::string displayName = {});
    ~TXDisplayBackend() override;

    std::vector<TDisplayInfo> EnumerateDisplays() override;
    uintptr_t OpenContext(const std::string& deviceName) override;
    void CloseContext(uintptr_t context) override;
    bool GetGammaRamp(uintptr_t context, TGammaRamp& ramp) override;
    bool SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) override;

private:
    class TConnection;

    // The open connection, made anew when there is none or it was lost;
    // nullptr without a server that speaks RandR 1.5. Called under m_lock.
    _XDisplay* Connect();

    const std::string m_strDisplayName;
    std::mutex m_lock;
    std::unique_ptr<TConnection> m_pConnection;
};

}  // namespace platform
