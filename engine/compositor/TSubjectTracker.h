#pragma once

#include <array>

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TCompositorPool.h"

namespace pelorn {

// Follows the presenter from frame to frame: the bounding rectangle of the
// opaque part (mask 128 and above) of the latest matted mask, and for how
// many frames in a row a subject was found. The debug overlay draws it.
//
// Reset by SetUp, by a change of the algorithm mode and when the decision
// data are rebuilt: the previous frames then say nothing about the next.
class TSubjectTracker {
public:
    static constexpr kernels::TRect kNoSubject{-1, -1, -1, -1};

    void Reset();
    // Takes the mask of the frame just matted (kernel 25 on the pool).
    void Update(TCompositorPool& pool, const uint8_t* mask, int width, int height);

    bool HasSubject() const { return m_bHasSubject; }
    const kernels::TRect& Subject() const { return m_rcSubject; }
    int TrackedFrames() const { return m_nTrackedFrames; }

private:
    bool m_bHasSubject = false;
    kernels::TRect m_rcSubject = kNoSubject;
    int m_nTrackedFrames = 0;
    std::array<kernels::TRect, TCompositorPool::kWorkers> m_bands{};
};

}  // namespace pelorn
