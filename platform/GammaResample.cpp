#include "platform/GammaResample.h"

#include <cmath>

namespace platform {

void ResampleGammaChannel(const uint16_t* in, size_t inSize, uint16_t* out, size_t outSize) {
    const double step = static_cast<double>(inSize - 1) / static_cast<double>(outSize - 1);
    for (size_t j = 0; j < outSize; ++j) {
        const double position = static_cast<double>(j) * step;
        size_t below = static_cast<size_t>(position);
        if (below >= inSize - 1) below = inSize - 2;
        const double fraction = position - static_cast<double>(below);
        const double value = in[below] + (in[below + 1] - static_cast<double>(in[below])) * fraction;
        out[j] = static_cast<uint16_t>(std::lround(value));
    }
}

}  // namespace platform
