#include "engine/DisplayList.h"

#include <algorithm>
#include <cstdio>

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

int ListDisplayNames(const DisplayList& displays, std::string* names, unsigned* primary, int max) {
    const int count = names == nullptr ? 0 : std::min(max, displays.Count());
    const int primaryIndex = displays.PrimaryIndex();
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, i == primaryIndex ? "显示器%d (主屏)" : "显示器%d", i);
        names[i] = name;
    }
    if (primary != nullptr) *primary = static_cast<unsigned>(primaryIndex);
    return std::max(count, 0);
}

}  // namespace pelorn
