#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace pelorn {

// Measures the input frame rate over windows of `windowMs` and keeps a
// histogram of the window rates in hundredths of a frame per second. Updated
// by the main source's reader thread only; Open asks for a reset from the
// user-interface thread, which the reader carries out on its next frame.
class InputRateStats {
public:
    static constexpr int kBuckets = 10000;

    InputRateStats();

    // Called from any thread: the next Update starts afresh with this window.
    void RequestReset(uint16_t windowMs);

    // Counts one frame seen at `nowTicks` (performance-counter ticks) and
    // returns the most frequent window rate so far, in hundredths of a frame
    // per second (0 before the first window closes).
    int32_t Update(int64_t nowTicks);

    int64_t TotalFrames() const { return m_nTotalFrames; }
    int32_t WindowCount() const { return m_nWindowCount; }
    float LastRate() const { return m_fLastRate; }
    float MinRate() const { return m_fMinRate; }
    float MaxRate() const { return m_fMaxRate; }
    int32_t HistogramAt(int bucket) const { return m_pHistogram[bucket]; }

private:
    void Reset(int64_t nowTicks);
    void CloseWindow(int16_t elapsedMs, int64_t nowTicks);
    int32_t MostFrequentBucket() const;

    int64_t m_nTotalFrames = 0;  // 0: a reset is pending
    int64_t m_nWindowFrames = 0;
    int32_t m_nWindowCount = 0;
    float m_fLastRate = 0;
    float m_fMinRate = 10000;
    float m_fMaxRate = -10000;
    std::unique_ptr<int32_t[]> m_pHistogram;
    uint16_t m_nWindowMs = 2000;
    int64_t m_nFrequency;
    int64_t m_nWindowStart = 0;
    // The histogram and the rate range change only when a window closes, so
    // the search result is kept between closes.
    int32_t m_nMostFrequent = 0;

    std::atomic<bool> m_bResetRequested{false};
    std::atomic<uint16_t> m_nRequestedWindowMs{2000};
};

}  // namespace pelorn
