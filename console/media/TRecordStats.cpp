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

void TRecordCounters::NoteQueueDepth(std::atomic<int>& maximum, int depth) {
    int seen = maximum.load(std::memory_order_relaxed);
    while (depth > seen && !maximum.compare_exchange_weak(seen, depth, std::memory_order_relaxed)) {
    }
}

void TRecordCounters::AddEncodeTime(double ms) {
    const int bin = std::clamp(static_cast<int>(ms / kEncodeBinMs), 0, kEncodeBins - 1);
    m_encodeBins[bin].fetch_add(1, std::memory_order_relaxed);
}

void TRecordCounters::Reset() {
    for (auto* counter : {&videoPushed, &videoEncoded, &audioPushed, &audioEncoded}) counter->store(0);
    videoQueueMax = 0;
    audioQueueMax = 0;
    for (auto& drop : m_videoDrops) drop.store(0);
    for (auto& drop : m_audioDrops) drop.store(0);
    for (auto& bin : m_encodeBins) bin.store(0);
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
    uint64_t total = 0;
    for (const auto& bin : m_encodeBins) total += bin.load(std::memory_order_relaxed);
    const auto percentile = [&](double share) {
        uint64_t seen = 0;
        for (int i = 0; i < kEncodeBins; ++i) {
            seen += m_encodeBins[i].load(std::memory_order_relaxed);
            if (seen > 0 && seen >= share * total) return (i + 0.5) * kEncodeBinMs;
        }
        return 0.0;
    };
    stats->encodeMsMedian = total ? percentile(0.5) : 0;
    stats->encodeMsP99 = total ? percentile(0.99) : 0;
}

}  // namespace console
