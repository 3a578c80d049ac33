#pragma once

#include <cstdint>

namespace beautyskin {

enum class TTurn { kClockwise, kCounterClockwise };

// Turns a packed picture of srcWidth x srcHeight by a quarter into a
// destination of srcHeight x srcWidth. Bytes per pixel are srcLinesize /
// srcWidth and must be 2, 3 or 4. Returns kModuleOk, kModuleUnsupported for
// another pixel size, or kModuleBadArgument (null or overlapping buffers,
// sizes that do not match the turn, a destination line size too short); on
// failure nothing is written.
int32_t TurnQuarter(TTurn turn, const uint8_t* src, uint8_t* dst, int32_t srcWidth,
                    int32_t srcHeight, int32_t srcLinesize, int32_t dstWidth, int32_t dstHeight,
                    int32_t dstLinesize);

}  // namespace beautyskin
