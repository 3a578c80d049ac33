#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DisplayBackend.h"

namespace platform {

// Displays held in memory, for tests: install it with InstallDisplayBackend.
// Each added display starts with the identity ramp; every ramp that is set is
// kept, so a test reads back what the engine applied.
class TFakeDisplayBackend final : public IDisplayBackend {
public:
    void AddDisplay(const std::string& deviceName, TDisplayRect monitor, bool primary);
    // Makes every later gamma read and write fail (as on a server that has
    // no gamma support).
    void FailGamma(bool fail);

    // The display's ramp as last set (the identity ramp when none was).
    TGammaRamp Ramp(const std::string& deviceName) const;
    int SetRampCount(const std::string& deviceName) const;
    int OpenContextCount() const;

    std::vector<TDisplayInfo> EnumerateDisplays() override;
    uintptr_t OpenContext(const std::string& deviceName) override;
    void CloseContext(uintptr_t context) override;
    bool GetGammaRamp(uintptr_t context, TGammaRamp& ramp) override;
    bool SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) override;

private:
    struct TFakeDisplay {
        TDisplayInfo info;
        TGammaRamp ramp;
        int setCount = 0;
    };
    TFakeDisplay* Find(uintptr_t context);

    mutable std::mutex m_lock;
    std::vector<TFakeDisplay> m_displays;
    std::map<uintptr_t, size_t> m_contexts;  // handle -> index into m_displays
    uintptr_t m_hNext = 1;
    bool m_bFailGamma = false;
};

}  // namespace platform
