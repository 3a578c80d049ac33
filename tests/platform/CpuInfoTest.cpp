#include "platform/CpuInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace platform {
namespace {

TEST(CpuInfoTest, TheBrandComesFromTheProcessorUnlessOverridden) {
    const char* saved = std::getenv("QUINDLE_CPU_BRAND");
    const std::string keep = saved != nullptr ? saved : "";

    unsetenv("QUINDLE_CPU_BRAND");
    const std::string real = CpuidBrandString();
    EXPECT_FALSE(real.empty());
    EXPECT_LE(real.size(), 48u);
    EXPECT_EQ(CpuBrand(), real);

    setenv("QUINDLE_CPU_BRAND", "Some Other CPU", 1);
    EXPECT_EQ(CpuBrand(), "Some Other CPU");

    if (saved != nullptr) {
        setenv("QUINDLE_CPU_BRAND", keep.c_str(), 1);
    } else {
        unsetenv("QUINDLE_CPU_BRAND");
    }
}

}  // namespace
}  // namespace platform
