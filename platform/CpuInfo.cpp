#include "platform/CpuInfo.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

namespace platform {

std::string CpuidBrandString() {
    constexpr unsigned kFirstLeaf = 0x80000002;
    constexpr unsigned kLastLeaf = 0x80000004;
    if (__get_cpuid_max(0x80000000, nullptr) < kLastLeaf) return {};
    char brand[49] = {};
    for (unsigned leaf = kFirstLeaf; leaf <= kLastLeaf; ++leaf) {
        unsigned regs[4] = {};
        __get_cpuid(leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
        std::memcpy(brand + (leaf - kFirstLeaf) * sizeof regs, regs, sizeof regs);
    }
    return std::string(brand);  // stops at the first NUL
}

std::string CpuBrand() {
    const char* forced = std::getenv("QUINDLE_CPU_BRAND");
    if (forced != nullptr) return forced;
    return CpuidBrandString();
}

}  // namespace platform
