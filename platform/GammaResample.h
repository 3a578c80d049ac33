#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Resamples one gamma channel of inSize entries to outSize entries by linear
// interpolation, first and last entries kept; both sizes at least 2.
void ResampleGammaChannel(const uint16_t* in, size_t inSize, uint16_t* out, size_t outSize);

}  // namespace platform
