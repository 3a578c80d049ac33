#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Inclusive-exclusive pixel rectangle of a monitor on the desktop.
struct TDisplayRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct TDisplayInfo {
    std::string deviceName;  // the output's name, e.g. "HDMI-1"
    TDisplayRect monitor;
    bool primary = false;
};

// A device gamma ramp: 256 red, then 256 green, then 256 blue entries,
// 0..65535 each.
constexpr int kGammaEntries = 256;
using TGammaRamp = std::array<uint16_t, 3 * kGammaEntries>;

// What the engine needs of the displays: enumeration and per-output gamma
// ramps. A context is the backend's handle for one output (0 is none); it is
// closed on the backend that opened it. All operations may be called from any
// thread.
class IDisplayBackend {
public:
    virtual ~IDisplayBackend() = default;

    virtual std::vector<TDisplayInfo> EnumerateDisplays() = 0;
    virtual uintptr_t OpenContext(const std::string& deviceName) = 0;
    virtual void CloseContext(uintptr_t context) = 0;
    virtual bool GetGammaRamp(uintptr_t context, TGammaRamp& ramp) = 0;
    virtual bool SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) = 0;
};

// The backend in use: the X server's unless a test installed another.
IDisplayBackend& DisplayBackend();
// Installs `backend` for the whole process (nullptr goes back to the X
// server's). The caller keeps it alive until it is replaced; contexts opened
// on it must be closed before.
void InstallDisplayBackend(IDisplayBackend* backend);

}  // namespace platform
