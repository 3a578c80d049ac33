#pragma once

#include <cstdint>

namespace console {

// Maps the timestamps of one medium onto the monotonic clock (µs). Sources
// stamp differently: cameras on the monotonic clock, audio servers on the wall
// clock, media files from 0. The first frame decides: a time within 5 s of
// the monotonic clock is kept, one within 5 s of the wall clock is shifted by
// the clocks' difference, any other is anchored at the frame's arrival time.
// A medium that runs backwards is anchored again.
class TMediaClock {
public:
    static constexpr int64_t kNearUs = 5000000;

    // `sourceUs` in the medium's own clock; `arrivalUs` and the two clocks'
    // readings at arrival in µs.
    int64_t Map(int64_t sourceUs, int64_t arrivalUs, int64_t monotonicNowUs, int64_t wallNowUs);
    // The same with the clocks read now.
    int64_t Map(int64_t sourceUs, int64_t arrivalUs);
    void Reset() { m_bAnchored = false; }

private:
    bool m_bAnchored = false;
    int64_t m_nOffsetUs = 0;
    int64_t m_nLastSourceUs = 0;
};

}  // namespace console
