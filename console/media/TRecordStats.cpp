#include "console/media/TRecordStats.h"

#include <algorithm>
#include <numeric>

namespace console {

int64_t TRecordStats::VideoDrops() const {
    return std::accumulate(videoDrops.begin(), videoDrops.end(), int64_t{0});
}

const char* TRecordStats::CauseName(EDropCause cause) {
    switch (cause) {
        case EDropCause::kWarmUp: return "warm-up";
        case EDropCause::kBeforeStart: return "before-start";
        case EDropCause::kNotRising: return "not-rising";
        case EDropCause::kQueueFull: return "queue-full";
        case EDropCause::kMemoryBound: return "memory";
        case EDropCause::kConversion: return "conversion";
        case EDropCause::kEncoder: return "encoder";
        default: return "?";
    }
}

namespace {

// The value below which `share` of the histogram's entries lie (bin centres);
// 0 for an empty histogram.
template <size_t N>
double Percentile(const std::array<std::atomic<uint32_t>, N>& bins, double binWidth, double share) {
    uint64_t total = 0;
    for (const auto& bin : bins) total += bin.load(std::memory_order_relaxed);
    if (total == 0) return 0;
    uint64_t seen = 0;
    for (size_t i = 0; i < N; ++i) {
        seen += bins[i].load(std::memory_order_relaxed);
        if (seen > 0 && seen >= share * total) return (static_cast<double>(i) + 0.5) * binWidth;
    }
    return 0;
}

template <size_t N>
void AddToBins(std::array<std::atomic<uint32_t>, N>& bins, double binWidth, double value) {
    const int bin = std::clamp(static_cast<int>(value / binWidth), 0, static_cast<int>(N) - 1);
    bins[bin].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void TRecordCounters::NoteQueueDepth(std::atomic<int>& maximum, int depth) {
    int seen = maximum.load(std::memory_order_relaxed);
    while (depth > seen && !maximum.compare_exchange_weak(seen, depth, std::memory_order_relaxed)) {
    }
}

void TRecordCounters::AddEncodeTime(double ms) { AddToBins(m_encodeBins, kEncodeBinMs, ms); }

void TRecordCounters::AddAudioLatency(double ms) { AddToBins(m_latencyBins, kLatencyBinMs, ms); }

void TRecordCounters::Reset() {
    for (auto* counter : {&videoPushed, &videoEncoded, &audioPushed, &audioEncoded}) counter->store(0);
    videoQueueMax = 0;
    audioQueueMax = 0;
    for (auto& drop : m_videoDrops) drop.store(0);
    for (auto& drop : m_audioDrops) drop.store(0);
    for (auto& bin : m_encodeBins) bin.store(0);
    for (auto& bin : m_latencyBins) bin.store(0);
}

void TRecordCounters::Fill(TRecordStats* stats) const {
    stats->videoPushed = videoPushed.load();
    stats->videoEncoded = videoEncoded.load();
    stats->audioPushed = audioPushed.load();
    stats->audioEncoded = audioEncoded.load();
    stats->videoQueueMax = videoQueueMax.load();
    stats->audioQueueMax = audioQueueMax.load();
    for (size_t i = 0; i < m_videoDrops.size(); ++i) {
        stats->videoDrops[i] = m_videoDrops[i].load();
        stats->audioDrops[i] = m_audioDrops[i].load();
    }
    stats->encodeMsMedian = Percentile(m_encodeBins, kEncodeBinMs, 0.5);
    stats->encodeMsP99 = Percentile(m_encodeBins, kEncodeBinMs, 0.99);
    stats->audioLatencyMsMedian = Percentile(m_latencyBins, kLatencyBinMs, 0.5);
    stats->audioLatencyMsP99 = Percentile(m_latencyBins, kLatencyBinMs, 0.99);
}

}  // namespace console
