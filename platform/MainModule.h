#pragma once

#include <cstdint>

namespace platform {

// Address at which the first byte of the main executable's image is mapped:
// the process-wide key that both deliverables derive shared names from.
uintptr_t MainModuleAddress();

}  // namespace platform
