#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace pelorn::play {

// Figures of the composed frames as the engine's callback sees them. Add runs
// on the engine's output thread, the rest on the main thread.
//
// Drops are not on the engine's interface; they show as gaps in the input
// sequence numbers (pkt_size). The queue refuses frames only while it is full
// (99 waiting), and the worker then first drops all but six of those, so a
// gap that follows within a few frames a gap of at least kFullQueueDrain is
// counted as queue-full refusals; every other gap as low-latency drops.
class TPlayStats {
public:
    static constexpr int64_t kFullQueueDrain = 99 - 6;
    static constexpr int kFramesAfterDrain = 8;

    struct TSample {
        int64_t sequence;       // pkt_size
        int64_t rateHundredths; // pkt_dts
        int64_t processMs;      // pkt_pos
        int64_t arrivalMicros;  // pkt_duration
        int64_t callbackMicros; // the clock when the callback ran
    };

    struct TFigures {
        int64_t frames = 0;
        double deliveredRate = 0;  // frames per second between the first and last callback
        double measuredRate = 0;   // the engine's input rate (pkt_dts) of the last frame
        int64_t medianProcessMs = 0;
        int64_t worstProcessMs = 0;
        double medianDelayMs = 0;
        double p99DelayMs = 0;
        int64_t queueFullDrops = 0;
        int64_t lowLatencyDrops = 0;
    };

    void Add(const TSample& sample);
    // The frames since the previous call.
    TFigures TakeWindow();
    TFigures Total() const;
    int64_t Frames() const;

private:
    struct TSeries {
        std::vector<int64_t> processMs;
        std::vector<int64_t> delayMicros;
        int64_t firstCallback = 0;
        int64_t lastCallback = 0;
        int64_t lastRate = 0;
        int64_t queueFullDrops = 0;
        int64_t lowLatencyDrops = 0;
    };

    static void Append(TSeries& series, const TSample& sample);
    static TFigures Summarise(const TSeries& series);

    mutable std::mutex m_lock;
    TSeries m_window;
    TSeries m_total;
    int64_t m_nLastSequence = -1;
    int m_nFramesSinceDrain = kFramesAfterDrain + 1;
};

}  // namespace pelorn::play
