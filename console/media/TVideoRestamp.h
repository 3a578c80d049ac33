#pragma once

#include "console/media/TRecorderSlot.h"

struct AVFormatContext;
struct AVFrame;
struct AVStream;

namespace console {

// With captured audio, the recorders must see pictures on the clock the
// captor stamps audio on: each picture goes to them stamped with its arrival
// time (pkt_duration, monotonic µs) through a stream record of time base
// 1/1,000,000 whose start time the first picture sets. The frame itself is
// handed back unchanged. Used by one producer thread only.
class TVideoRestamp {
public:
    TVideoRestamp();
    ~TVideoRestamp();
    TVideoRestamp(const TVideoRestamp&) = delete;
    TVideoRestamp& operator=(const TVideoRestamp&) = delete;

    // Pushes the frame to both recorders, restamped when `restamp` is set.
    void Push(TRecorderSlots& recorders, AVFrame* frame, bool restamp);

private:
    AVFormatContext* m_pContext;
    AVStream* m_pStream;
};

}  // namespace console
