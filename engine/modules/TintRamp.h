#pragma once

#include <array>

#include "platform/DisplayBackend.h"

namespace platform {
class TDisplayContext;
}

namespace pelorn {

using TTintCurve = std::array<float, platform::kGammaEntries>;

// Entry k of every channel is k x 256.
platform::TGammaRamp IdentityGammaRamp();

// The green tint for `level` (clamped to 0..255), in single precision: with
// s = 255 - L and t = curve[k] x s / 255, red and blue are t and green is
// t + L, each rounded, clamped to 0..255 and scaled by 256.
platform::TGammaRamp ComputeTintRamp(int level, const TTintCurve& curve);

// Applies the tint for `level` to the display; level 0 sets the identity ramp.
// Returns the result of setting the ramp (1 when it was set), 0 when nothing
// was set: no display, or a system version the tint is not made for.
int BuildTintRamp(int level, const platform::TDisplayContext* context, const TTintCurve& curve);

}  // namespace pelorn
