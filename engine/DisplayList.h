#pragma once

#include <string>
#include <vector>

#include "platform/DisplayBackend.h"

namespace pelorn {

// The attached displays as found when the engine was made: device name,
// monitor rectangle and primary flag of at most 64 displays. Empty without a
// display server.
class DisplayList {
public:
    static constexpr int kMaxDisplays = 64;

    DisplayList();  // enumerates through the display backend in use

    int Count() const { return static_cast<int>(m_displays.size()); }
    const platform::TDisplayInfo& At(int index) const { return m_displays[index]; }
    // The first display flagged primary; the first display when none is
    // flagged (a server may leave the flag unset), 0 when there are none.
    int PrimaryIndex() const { return m_nPrimary; }

private:
    std::vector<platform::TDisplayInfo> m_displays;
    int m_nPrimary = 0;
};

// The engines' ListScreens: up to `max` names "显示器%d (主屏)" for the
// primary display and "显示器%d" for the others, the primary's index in
// *primary; returns the count.
int ListDisplayNames(const DisplayList& displays, std::string* names, unsigned* primary, int max);

}  // namespace pelorn
