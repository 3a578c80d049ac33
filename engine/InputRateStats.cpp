#include "engine/InputRateStats.h"

#include <algorithm>
#include <cstring>

#include "platform/PerfCounter.h"

namespace pelorn {

InputRateStats::InputRateStats()
    : m_pHistogram(new int32_t[kBuckets]()), m_nFrequency(platform::PerfCounter::Frequency()) {}

void InputRateStats::RequestReset(uint16_t windowMs) {
    m_nRequestedWindowMs.store(windowMs, std::memory_order_relaxed);
    m_bResetRequested.store(true, std::memory_order_release);
}

void InputRateStats::Reset(int64_t nowTicks) {
    m_nWindowFrames = 0;
    m_nWindowCount = 0;
    m_fLastRate = 0;
    m_fMinRate = 10000;
    m_fMaxRate = -10000;
    std::memset(m_pHistogram.get(), 0, sizeof(int32_t) * kBuckets);
    m_nWindowStart = nowTicks;
    m_nMostFrequent = 0;
}

int32_t InputRateStats::Update(int64_t nowTicks) {
    if (m_bResetRequested.exchange(false, std::memory_order_acq_rel)) {
        m_nWindowMs = m_nRequestedWindowMs.load(std::memory_order_relaxed);
        m_nTotalFrames = 0;
    }
    if (m_nTotalFrames == 0) Reset(nowTicks);
    ++m_nWindowFrames;
    ++m_nTotalFrames;

    // Kept as a signed 16-bit count of milliseconds: a pause of more than
    // 32.767 s wraps negative, and the window then stays open until the value
    // climbs back to the window length.
    const int64_t elapsedWide = (nowTicks - m_nWindowStart) * 1000 / m_nFrequency;
    const auto elapsedMs = static_cast<int16_t>(static_cast<uint16_t>(elapsedWide));
    if (elapsedMs >= static_cast<int32_t>(m_nWindowMs)) CloseWindow(elapsedMs, nowTicks);
    return m_nMostFrequent;
}

void InputRateStats::CloseWindow(int16_t elapsedMs, int64_t nowTicks) {
    const float rate = static_cast<float>(m_nWindowFrames) * 1000.0f / elapsedMs;
    m_fMinRate = std::min(m_fMinRate, rate);
    m_fMaxRate = std::max(m_fMaxRate, rate);
    m_fLastRate = rate;
    // Rounded to the nearest hundredth, so a steady 25 frames per second is
    // bucket 2500.
    const int bucket = std::clamp(static_cast<int>(rate * 100 + 0.5f), 0, kBuckets - 1);
    ++m_pHistogram[bucket];
    ++m_nWindowCount;
    m_nWindowStart = nowTicks;
    m_nWindowFrames = 0;
    m_nMostFrequent = MostFrequentBucket();
}

// The first bucket with the strictly largest count in the measured rate range.
int32_t InputRateStats::MostFrequentBucket() const {
    const int first = std::max(static_cast<int>(m_fMinRate * 100), 0);
    const int last = std::min(1 + static_cast<int>(m_fMaxRate * 100), kBuckets - 1);
    int32_t best = 0;
    int32_t bestCount = 0;
    for (int bucket = first; bucket <= last; ++bucket) {
        if (m_pHistogram[bucket] > bestCount) {
            bestCount = m_pHistogram[bucket];
            best = bucket;
        }
    }
    return best;
}

}  // namespace pelorn
