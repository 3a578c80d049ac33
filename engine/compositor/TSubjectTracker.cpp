#include "engine/compositor/TSubjectTracker.h"

#include <algorithm>

#include "engine/compositor/KernelIds.h"

namespace pelorn {

void TSubjectTracker::Reset() {
    m_bHasSubject = false;
    m_rcSubject = kNoSubject;
    m_nTrackedFrames = 0;
}

void TSubjectTracker::Update(TCompositorPool& pool, const uint8_t* mask, int width, int height) {
    pool.Dispatch(kKernelSubjectBounds, kernels::TBoundsArgs{mask, width, height, m_bands.data()});
    kernels::TRect found{width, height, -1, -1};
    for (const kernels::TRect& band : m_bands) {
        if (band.IsEmpty())
            continue;
        found.left = std::min(found.left, band.left);
        found.top = std::min(found.top, band.top);
        found.right = std::max(found.right, band.right);
        found.bottom = std::max(found.bottom, band.bottom);
    }
    if (found.IsEmpty()) {
        Reset();
        return;
    }
    m_bHasSubject = true;
    m_rcSubject = found;
    ++m_nTrackedFrames;
}

}  // namespace pelorn
