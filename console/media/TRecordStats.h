#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace console {

// Why a pushed frame did not reach the encoder.
enum class EDropCause : int {
    kWarmUp,        // before the recording's start was fixed
    kBeforeStart,   // its time, alignment included, lies before the start
    kNotRising,     // not after the previous frame's time
    kQueueFull,
    kMemoryBound,   // the frames waiting hold too much memory
    kConversion,
    kEncoder,
    kCount,
};

struct TOutputStats {
    std::string destination;
    int64_t bytes = 0;
    int64_t packets = 0;
    int64_t errors = 0;
    bool failed = false;  // a network output that stopped after an error
};

// A snapshot of a recorder's figures.
struct TRecordStats {
    int64_t videoPushed = 0;
    int64_t videoEncoded = 0;  // frames sent to the encoder
    int64_t audioPushed = 0;
    int64_t audioEncoded = 0;  // audio frames fed to the encoder
    std::array<int64_t, static_cast<int>(EDropCause::kCount)> videoDrops{};
    std::array<int64_t, static_cast<int>(EDropCause::kCount)> audioDrops{};
    int videoQueueDepth = 0;
    int videoQueueMax = 0;
    int audioQueueDepth = 0;
    int audioQueueMax = 0;
    double encodeMsMedian = 0;
    double encodeMsP99 = 0;
    // From an audio frame's capture time to its samples reaching the encoder.
    double audioLatencyMsMedian = 0;
    double audioLatencyMsP99 = 0;
    std::vector<TOutputStats> outputs;

    int64_t VideoDrops() const;
    static const char* CauseName(EDropCause cause);
};

// The counters behind the snapshot, written by producers and the worker.
class TRecordCounters {
public:
    static constexpr int kEncodeBins = 2000;  // 0.1 ms each
    static constexpr double kEncodeBinMs = 0.1;
    static constexpr int kLatencyBins = 2000;  // 0.5 ms each
    static constexpr double kLatencyBinMs = 0.5;

    void CountVideoDrop(EDropCause cause) { Bump(m_videoDrops[static_cast<int>(cause)]); }
    void CountAudioDrop(EDropCause cause) { Bump(m_audioDrops[static_cast<int>(cause)]); }
    void NoteQueueDepth(std::atomic<int>& maximum, int depth);
    void AddEncodeTime(double ms);
    void AddAudioLatency(double ms);
    void Reset();
    void Fill(TRecordStats* stats) const;

    std::atomic<int64_t> videoPushed{0}, videoEncoded{0}, audioPushed{0}, audioEncoded{0};
    std::atomic<int> videoQueueMax{0}, audioQueueMax{0};

private:
    static void Bump(std::atomic<int64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

    std::array<std::atomic<int64_t>, static_cast<int>(EDropCause::kCount)> m_videoDrops{};
    std::array<std::atomic<int64_t>, static_cast<int>(EDropCause::kCount)> m_audioDrops{};
    std::array<std::atomic<uint32_t>, kEncodeBins> m_encodeBins{};
    std::array<std::atomic<uint32_t>, kLatencyBins> m_latencyBins{};
};

}  // namespace console
