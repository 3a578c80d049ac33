#pragma once

#include <string>

#include "engine/modules/TintRamp.h"
#include "platform/DisplayContext.h"

namespace pelorn {

// Tints one monitor green through its gamma ramp, so that it serves as a
// green backdrop behind the presenter. Owned by the engine and used on the
// user-interface thread only.
class ScreenTint {
public:
    ScreenTint();
    ~ScreenTint();  // restores the identity ramp and releases the display
    ScreenTint(const ScreenTint&) = delete;
    ScreenTint& operator=(const ScreenTint&) = delete;

    // Moves the tint to the display of that device name; the same name keeps
    // the current display.
    void Select(const std::string& deviceName);
    // Applies a tint level (0 restores the identity ramp). Without a display
    // it puts "蒙绿初始化不成功" in front of the error trail and returns 0;
    // otherwise the result of setting the ramp.
    int SetLevel(int level);
    // Sets the identity ramp; nothing without a display.
    void Restore();

    const std::string& DeviceName() const { return m_strDeviceName; }
    bool HasDisplay() const { return m_context.IsOpen(); }
    // The display's ramp as found when it was chosen.
    const platform::TGammaRamp& SavedRamp() const { return m_savedRamp; }
    // Input i maps to 2i up to 64, i + 64 up to 128, (i - 128) / 2 + 196 above.
    const TTintCurve& Curve() const { return m_curve; }

private:
    std::string m_strDeviceName;
    platform::TDisplayContext m_context;
    platform::TGammaRamp m_savedRamp{};
    TTintCurve m_curve;
};

}  // namespace pelorn
