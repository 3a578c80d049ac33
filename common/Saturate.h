#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace common {

// Converts to int32 truncating toward zero like a cast, but values beyond the
// range clamp to its ends and NaN becomes 0 (a plain cast would be undefined).
template <typename Float>
int32_t SaturateToInt32(Float value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<Float>(2147483648.0))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<Float>(-2147483648.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// A coordinate on a canvas `from` pixels wide mapped to one `to` pixels wide:
// trunc(x * (to - 1) / (from - 1) + 0.5) in single precision, saturating.
inline int32_t RescaleCoordinate(int32_t value, int32_t from, int32_t to) {
    const float scaled =
        static_cast<float>(value) * static_cast<float>(to - 1) / static_cast<float>(from - 1) +
        0.5f;
    return SaturateToInt32(scaled);
}

}  // namespace common
