#include "console/media/TMediaClock.h"

#include <cstdlib>

extern "C" {
#include <libavutil/time.h>
}

namespace console {

int64_t TMediaClock::Map(int64_t sourceUs, int64_t arrivalUs, int64_t monotonicNowUs,
                         int64_t wallNowUs) {
    if (!m_bAnchored || sourceUs < m_nLastSourceUs) {
        if (std::llabs(sourceUs - monotonicNowUs) <= kNearUs)
            m_nOffsetUs = 0;
        else if (std::llabs(sourceUs - wallNowUs) <= kNearUs)
            m_nOffsetUs = monotonicNowUs - wallNowUs;
        else
            m_nOffsetUs = arrivalUs - sourceUs;
        m_bAnchored = true;
    }
    m_nLastSourceUs = sourceUs;
    return sourceUs + m_nOffsetUs;
}

int64_t TMediaClock::Map(int64_t sourceUs, int64_t arrivalUs) {
    return Map(sourceUs, arrivalUs, av_gettime_relative(), av_gettime());
}

}  // namespace console
