#include "engine/modules/TintRamp.h"

#include <algorithm>

#include "engine/modules/EnvironmentCheck.h"
#include "platform/DisplayContext.h"

namespace pelorn {
namespace {

using platform::kGammaEntries;

uint16_t ChannelEntry(float value) {
    const int rounded = std::clamp(static_cast<int>(value + 0.5f), 0, 255);
    return static_cast<uint16_t>(rounded * 256);
}

}  // namespace

platform::TGammaRamp IdentityGammaRamp() {
    platform::TGammaRamp ramp;
    for (int channel = 0; channel < 3; ++channel) {
        for (int k = 0; k < kGammaEntries; ++k) {
            ramp[channel * kGammaEntries + k] = static_cast<uint16_t>(k * 256);
        }
    }
    return ramp;
}

platform::TGammaRamp ComputeTintRamp(int level, const TTintCurve& curve) {
    const int clamped = std::clamp(level, 0, 255);
    const float s = static_cast<float>(255 - clamped);
    platform::TGammaRamp ramp;
    for (int k = 0; k < kGammaEntries; ++k) {
        const float t = curve[k] * s / 255.0f;
        ramp[k] = ChannelEntry(t);
        ramp[2 * kGammaEntries + k] = ChannelEntry(t);
        ramp[kGammaEntries + k] = ChannelEntry(255.0f + t - s);
    }
    return ramp;
}

int BuildTintRamp(int level, const platform::TDisplayContext* context, const TTintCurve& curve) {
    if (context == nullptr || !context->IsOpen()) return 0;
    if (level == 0) return context->SetGammaRamp(IdentityGammaRamp()) ? 1 : 0;
    if (!IsSupportedVersion(QueryNtVersion())) return 0;
    return context->SetGammaRamp(ComputeTintRamp(level, curve)) ? 1 : 0;
}

}  // namespace pelorn
