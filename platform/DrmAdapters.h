#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr uint16_t kIntelVendorId = 0x8086;

// PCI vendor ids of the graphics adapters the kernel's DRM layer knows, read
// from <root>/class/drm/cardN/device/vendor in card order. The root is "/sys"
// unless a test pointed it elsewhere.
std::vector<uint16_t> DrmAdapterVendors();

// Points the lookup at another sysfs root for the whole process (an empty
// string goes back to "/sys").
void SetDrmSysfsRoot(const std::string& root);

}  // namespace platform
