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

}  // namespace pelorn
