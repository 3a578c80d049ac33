#pragma once

#include <string>

namespace platform {

// Whether a DRM device under `drmRoot` (card*/device/vendor) is made by Intel
// (vendor 0x8086): the only adapters the hardware H.264 encoder can open on.
bool HasIntelDrmDevice(const std::string& drmRoot = "/sys/class/drm");

}  // namespace platform
