#pragma once

#include <string>

#include "platform/DisplayBackend.h"

namespace platform {

// A display device context: the current backend's handle for one output,
// closed on destruction.
class TDisplayContext {
public:
    TDisplayContext() = default;
    ~TDisplayContext() { Release(); }
    TDisplayContext(const TDisplayContext&) = delete;
    TDisplayContext& operator=(const TDisplayContext&) = delete;

    // Releases any earlier context first; false when there is no such output.
    bool Open(const std::string& deviceName);
    void Release();
    bool IsOpen() const { return m_hContext != 0; }

    bool GetGammaRamp(TGammaRamp& ramp) const;
    bool SetGammaRamp(const TGammaRamp& ramp) const;

private:
    IDisplayBackend* m_pBackend = nullptr;
    uintptr_t m_hContext = 0;
};

}  // namespace platform
