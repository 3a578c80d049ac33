#include "tools/vcam/TFrameGapCounter.h"

#include <algorithm>
#include <limits>

namespace pelorn::vcam {
namespace {

constexpr int64_t kNoPts = std::numeric_limits<int64_t>::min();  // AV_NOPTS_VALUE

}  // namespace

void TFrameGapCounter::Restart() {
    m_nSteps = 0;
    m_nNext = 0;
    m_bHavePrevious = false;
}

int64_t TFrameGapCounter::FrameStep() const {
    return *std::min_element(m_steps.begin(), m_steps.begin() + m_nSteps);
}

int64_t TFrameGapCounter::Add(int64_t pts) {
    const bool havePrevious = m_bHavePrevious;
    const int64_t previous = m_nPrevious;
    m_nPrevious = pts;
    m_bHavePrevious = pts != kNoPts;

    int64_t step = 0;
    if (!havePrevious || pts == kNoPts || __builtin_sub_overflow(pts, previous, &step) || step <= 0) {
        m_nSteps = 0;
        m_nNext = 0;
        return 0;
    }
    int64_t lost = 0;
    if (m_nSteps >= kStepsToLearn) {
        const int64_t frameStep = FrameStep();
        // Rounded, so that a jittery clock (33 and 34 ms steps) counts nothing.
        if (step >= frameStep + frameStep / 2) lost = step / frameStep + (step % frameStep) * 2 / frameStep - 1;
        if (lost > kMaxLostRun) {
            m_nSteps = 0;
            m_nNext = 0;
            return 0;
        }
    }
    m_steps[m_nNext] = step;
    m_nNext = (m_nNext + 1) % kSteps;
    m_nSteps = std::min(m_nSteps + 1, kSteps);
    return lost;
}

}  // namespace pelorn::vcam
