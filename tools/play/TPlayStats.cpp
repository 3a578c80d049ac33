#include "tools/play/TPlayStats.h"

#include <algorithm>

namespace pelorn::play {
namespace {

// The value below which `share` of the values lie (nearest rank).
int64_t Percentile(std::vector<int64_t> values, double share) {
    if (values.empty()) return 0;
    const size_t rank = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(rank), values.end());
    return values[rank];
}

}  // namespace

void TPlayStats::Add(const TSample& sample) {
    std::lock_guard guard(m_lock);
    const int64_t gap = m_nLastSequence >= 0 ? sample.sequence - m_nLastSequence - 1 : 0;
    if (gap > 0) {
        const bool refused = m_nFramesSinceDrain <= kFramesAfterDrain;
        (refused ? m_window.queueFullDrops : m_window.lowLatencyDrops) += gap;
        (refused ? m_total.queueFullDrops : m_total.lowLatencyDrops) += gap;
        if (gap >= kFullQueueDrain) m_nFramesSinceDrain = 0;
    }
    if (m_nFramesSinceDrain <= kFramesAfterDrain) ++m_nFramesSinceDrain;
    m_nLastSequence = std::max(m_nLastSequence, sample.sequence);
    Append(m_window, sample);
    Append(m_total, sample);
}

void TPlayStats::Append(TSeries& series, const TSample& sample) {
    if (series.processMs.empty()) series.firstCallback = sample.callbackMicros;
    series.lastCallback = sample.callbackMicros;
    series.lastRate = sample.rateHundredths;
    series.processMs.push_back(sample.processMs);
    series.delayMicros.push_back(sample.callbackMicros - sample.arrivalMicros);
}

TPlayStats::TFigures TPlayStats::Summarise(const TSeries& series) {
    TFigures figures;
    figures.frames = static_cast<int64_t>(series.processMs.size());
    if (figures.frames > 1 && series.lastCallback > series.firstCallback) {
        figures.deliveredRate = static_cast<double>(figures.frames - 1) * 1e6 /
                                static_cast<double>(series.lastCallback - series.firstCallback);
    }
    figures.measuredRate = static_cast<double>(series.lastRate) / 100.0;
    figures.medianProcessMs = Percentile(series.processMs, 0.5);
    if (!series.processMs.empty()) {
        figures.worstProcessMs =
            *std::max_element(series.processMs.begin(), series.processMs.end());
    }
    figures.medianDelayMs = static_cast<double>(Percentile(series.delayMicros, 0.5)) / 1000.0;
    figures.p99DelayMs = static_cast<double>(Percentile(series.delayMicros, 0.99)) / 1000.0;
    figures.queueFullDrops = series.queueFullDrops;
    figures.lowLatencyDrops = series.lowLatencyDrops;
    return figures;
}

TPlayStats::TFigures TPlayStats::TakeWindow() {
    std::lock_guard guard(m_lock);
    const TFigures figures = Summarise(m_window);
    m_window = TSeries{};
    return figures;
}

TPlayStats::TFigures TPlayStats::Total() const {
    std::lock_guard guard(m_lock);
    return Summarise(m_total);
}

int64_t TPlayStats::Frames() const {
    std::lock_guard guard(m_lock);
    return static_cast<int64_t>(m_total.processMs.size());
}

}  // namespace pelorn::play
