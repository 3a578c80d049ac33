#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "engine/ParamTable.h"
#include "engine/TCapLayout.h"

namespace pelorn {

// What the console steers the compositor with: the sixteen parameter values,
// the layout and the process flags. The user-interface thread writes them
// under the lock; the compositor holds the same lock for a whole frame.
class TMattControls {
public:
    TMattControls();

    std::mutex& Lock() { return m_lock; }

    // Out-of-range indices read 0 and are ignored on write.
    int GetValue(int index);
    void SetValue(int index, int value);  // clamped to the entry's range

    int GetProcessFlags();
    void SetProcessFlags(int flags);

    // Copies the layout, rescales it from its reference size to the working
    // size and disables layers with an empty rectangle. A layout with no layers
    // is ignored; one claiming more than ten is cut to ten.
    void SetLayout(const TCapLayout& layout);
    // A new working size clears the layout: the console must send it again.
    void SetWorkingSize(int width, int height);

    // With the lock held, for the compositor.
    const std::array<int32_t, kParamCount>& ValuesLocked() const { return m_values; }
    const TCapLayout& LayoutLocked() const { return m_layout; }
    int32_t ProcessFlagsLocked() const { return m_nProcessFlags; }
    int WorkingWidthLocked() const { return m_nWidth; }
    int WorkingHeightLocked() const { return m_nHeight; }

private:
    void RescaleLayoutLocked();
    void DisableEmptyLayersLocked();

    std::mutex m_lock;
    std::array<int32_t, kParamCount> m_values;
    TCapLayout m_layout{};
    int32_t m_nProcessFlags = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

}  // namespace pelorn
