#pragma once

#include <string>

namespace platform {

// The processor's brand string as CPUID leaves 0x80000002..0x80000004 report
// it (up to 48 characters, leading blanks kept); empty when the processor
// does not have those leaves.
std::string CpuidBrandString();

// The brand string the engine judges the machine by: the environment variable
// QUINDLE_CPU_BRAND when it is set, otherwise CpuidBrandString(). The
// override lets a build machine whose processor the product does not accept
// still run the product's own checks end to end.
std::string CpuBrand();

}  // namespace platform
