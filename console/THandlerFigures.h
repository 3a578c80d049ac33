#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace console {

// What the frame handler measures about itself: how long each call took (a
// histogram in microseconds), how many frames it saw, the gaps in the
// engine's input sequence numbers (frames the engine dropped) and when the
// first frame came. One writer, the engine's output thread; any thread reads.
class THandlerFigures {
public:
    static constexpr int kBuckets = 20000;  // 1 us each; the last holds everything longer

    void Record(int64_t startTicks, int64_t endTicks, int64_t sequence) {
        int64_t unset = 0;
        m_nFirstFrameTicks.compare_exchange_strong(unset, startTicks, std::memory_order_relaxed);
        const int64_t micros = (endTicks - startTicks) / 1000;
        const size_t bucket = micros < 0 ? 0 : static_cast<size_t>(micros < kBuckets ? micros : kBuckets - 1);
        m_buckets[bucket].fetch_add(1, std::memory_order_relaxed);
        m_nFrames.fetch_add(1, std::memory_order_relaxed);
        if (m_nLastSequence >= 0 && sequence > m_nLastSequence + 1)
            m_nDrops.fetch_add(sequence - m_nLastSequence - 1, std::memory_order_relaxed);
        m_nLastSequence = sequence;
    }

    int64_t Frames() const { return m_nFrames.load(std::memory_order_relaxed); }
    int64_t Drops() const { return m_nDrops.load(std::memory_order_relaxed); }
    int64_t FirstFrameTicks() const { return m_nFirstFrameTicks.load(std::memory_order_relaxed); }

    // The smallest duration in microseconds that `fraction` of the calls
    // did not exceed; -1 before any call.
    int Percentile(double fraction) const {
        const int64_t frames = Frames();
        if (frames == 0) return -1;
        const int64_t wanted = static_cast<int64_t>(fraction * static_cast<double>(frames) + 0.999999);
        int64_t seen = 0;
        for (int i = 0; i < kBuckets; ++i) {
            seen += m_buckets[i].load(std::memory_order_relaxed);
            if (seen >= wanted) return i;
        }
        return kBuckets - 1;
    }

private:
    std::array<std::atomic<uint32_t>, kBuckets> m_buckets{};
    std::atomic<int64_t> m_nFrames{0}, m_nDrops{0}, m_nFirstFrameTicks{0};
    int64_t m_nLastSequence = -1;  // the writer's
};

}  // namespace console
