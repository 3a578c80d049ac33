#pragma once

#include <array>
#include <cstdint>

namespace pelorn::vcam {

// Counts frames that the writer wrote but the reader never saw.
//
// How: the slots carry no sequence number, only the source's pts, in the
// source's own time base. The frame step is learnt as the smallest positive
// pts step among the last kSteps steps (a step across lost frames is a
// multiple of it, so it never wins). A step of n frame steps then means n - 1
// frames were lost: the writer drops a frame when it finds the ring full,
// which is the only way one goes missing between it and the reader. A pts
// that does not grow (a reopened source, a writer restart, no pts at all)
// starts the learning afresh and counts nothing, and so does a jump of more
// than kMaxLostRun frame steps (a seek or a new time line, not a loss).
class TFrameGapCounter {
public:
    static constexpr int kSteps = 16;
    // Steps to learn before a gap is counted.
    static constexpr int kStepsToLearn = 2;
    static constexpr int64_t kMaxLostRun = 1000;

    // Takes the pts of the next frame read; returns the frames lost before it.
    int64_t Add(int64_t pts);
    void Restart();

private:
    int64_t FrameStep() const;

    std::array<int64_t, kSteps> m_steps{};
    int m_nSteps = 0;
    int m_nNext = 0;
    bool m_bHavePrevious = false;
    int64_t m_nPrevious = 0;
};

}  // namespace pelorn::vcam
