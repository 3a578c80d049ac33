#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "tools/vcam/IFrameSink.h"
#include "tools/vcam/TFrameGapCounter.h"
#include "tools/vcam/TVCamReader.h"

namespace pelorn::vcam {

struct TConsumerCounts {
    int64_t read = 0;
    int64_t missed = 0;         // written by the writer, never seen here (TFrameGapCounter)
    int64_t ringFull = 0;       // frames taken from a full ring: the writer was losing frames then
    int64_t formatChanges = 0;  // size or format changes after the first picture
    int64_t notForwarded = 0;   // read, but not handed on (cut, unknown format, sink refused)
    int64_t reconnects = 0;     // writer restarts survived
    int64_t repeated = 0;       // pictures shown again (or the slate) while no frame came
};

// Keeping a consumer fed while the writer is silent: the last picture again
// every period, a dark slate once no frame came for slateAfter.
struct TKeepAlive {
    std::chrono::milliseconds period{0};  // 0: off
    std::chrono::milliseconds slateAfter{2000};
};

// What an output's Configure error means to a user.
const char* DescribeOutputError(int error);

// The consumer's loop: connects to the writer's block (waiting while it
// does not exist), waits on the event, reads every waiting slot in order,
// forwards each frame to the sink and reports once a second on `log`.
// Survives a writer that removes its block and creates it anew.
class TVCamConsumer {
public:
    static constexpr int kWaitMs = 100;
    static constexpr int kReportMs = 1000;

    TVCamConsumer(TVCamReader& reader, IFrameSink& sink, std::FILE* log, TKeepAlive keepAlive = {})
        : m_reader(reader), m_sink(sink), m_pLog(log), m_keepAlive(keepAlive) {}

    // Runs until `stop` is set (0) or the sink fails for good (1).
    int Run(const std::atomic<bool>& stop);

    const TConsumerCounts& Totals() const { return m_total; }

private:
    bool EnsureConnected();
    void DrainRing(const std::atomic<bool>& stop);
    void Forward(const TVCamFrame& frame);
    bool ConfigureSinkFor(const TVCamFrame& frame);
    void Report();
    void KeepFed();
    int WaitMs() const;
    void HandleWriteError(int error);

    TVCamReader& m_reader;
    IFrameSink& m_sink;
    std::FILE* m_pLog;
    TKeepAlive m_keepAlive;
    std::chrono::steady_clock::time_point m_lastFrameAt;  // last frame handed on
    std::chrono::steady_clock::time_point m_nextRepeat;
    TFrameGapCounter m_gaps;
    TConsumerCounts m_total;
    TConsumerCounts m_second;
    bool m_bEverConnected = false;
    bool m_bWaitingReported = false;
    bool m_bSinkFailed = false;
    bool m_bSinkReady = false;
    bool m_bHavePicture = false;
    int16_t m_nWidth = 0;
    int16_t m_nHeight = 0;
    int16_t m_nFormat = 0;
};

}  // namespace pelorn::vcam
