#include "engine/DisplayList.h"

namespace pelorn {

DisplayList::DisplayList() : m_displays(platform::DisplayBackend().EnumerateDisplays()) {
    if (m_displays.size() > kMaxDisplays) m_displays.resize(kMaxDisplays);
    for (int i = 0; i < Count(); ++i) {
        if (m_displays[i].primary) {
            m_nPrimary = i;
            break;
        }
    }
}

}  // namespace pelorn
