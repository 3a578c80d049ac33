#include "engine/ScreenTint.h"

#include "common/ErrorTrail.h"

namespace pelorn {
namespace {

constexpr char kTintNotReady[] = "蒙绿初始化不成功";

TTintCurve MakeCurve() {
    TTintCurve curve;
    for (int i = 0; i < platform::kGammaEntries; ++i) {
        const float x = static_cast<float>(i);
        if (i <= 64) {
            curve[i] = 2.0f * x;
        } else if (i <= 128) {
            curve[i] = x + 64.0f;
        } else {
            curve[i] = (x - 128.0f) * 0.5f + 196.0f;
        }
    }
    return curve;
}

}  // namespace

ScreenTint::ScreenTint() : m_curve(MakeCurve()) {}

ScreenTint::~ScreenTint() { Restore(); }

void ScreenTint::Select(const std::string& deviceName) {
    if (deviceName == m_strDeviceName && m_context.IsOpen()) return;
    if (m_context.IsOpen()) {
        m_context.GetGammaRamp(m_savedRamp);
        m_context.Release();
    }
    m_strDeviceName = deviceName;
    if (m_context.Open(deviceName)) m_context.GetGammaRamp(m_savedRamp);
}

int ScreenTint::SetLevel(int level) {
    if (!m_context.IsOpen()) {
        common::ErrorTrail::Add(kTintNotReady);
        return 0;
    }
    return BuildTintRamp(level, &m_context, m_curve);
}

void ScreenTint::Restore() {
    if (m_context.IsOpen()) m_context.SetGammaRamp(IdentityGammaRamp());
}

}  // namespace pelorn
