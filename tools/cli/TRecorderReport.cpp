#include "tools/cli/TRecorderReport.h"

namespace corvane::cli {

namespace {

using console::EDropCause;
using console::TRecordStats;

std::string DropText(const TRecordStats& now, const TRecordStats& before) {
    std::string text;
    char item[64];
    for (int i = 0; i < static_cast<int>(EDropCause::kCount); ++i) {
        std::snprintf(item, sizeof item, " %s %lld/%lld",
                      TRecordStats::CauseName(static_cast<EDropCause>(i)),
                      static_cast<long long>(now.videoDrops[i] - before.videoDrops[i]),
                      static_cast<long long>(now.audioDrops[i] - before.audioDrops[i]));
        text += item;
    }
    return text;
}

}  // namespace

void TRecorderReport::PrintSecond(const TRecordStats& now, double seconds, std::FILE* out) {
    std::fprintf(out, "  %s: in %lld enc %lld audio in %lld enc %lld queue %d/%d drops(v/a)%s\n",
                 m_strName.c_str(), static_cast<long long>(now.videoPushed - m_previous.videoPushed),
                 static_cast<long long>(now.videoEncoded - m_previous.videoEncoded),
                 static_cast<long long>(now.audioPushed - m_previous.audioPushed),
                 static_cast<long long>(now.audioEncoded - m_previous.audioEncoded),
                 now.videoQueueDepth, now.audioQueueDepth, DropText(now, m_previous).c_str());
    for (size_t i = 0; i < now.outputs.size(); ++i) {
        const int64_t before = i < m_previous.outputs.size() ? m_previous.outputs[i].bytes : 0;
        std::fprintf(out, "    %s %.0f kbit/s errors %lld%s\n", now.outputs[i].destination.c_str(),
                     (now.outputs[i].bytes - before) * 8 / 1000.0 / seconds,
                     static_cast<long long>(now.outputs[i].errors), now.outputs[i].failed ? " FAILED" : "");
    }
    m_previous = now;
}

void TRecorderReport::PrintSummary(const TRecordStats& total, double seconds, std::FILE* out) const {
    std::fprintf(out,
                 "summary %s: video in %lld encoded %lld audio in %lld encoded %lld queue max %d/%d "
                 "encode ms median %.1f p99 %.1f audio latency ms median %.1f p99 %.1f drops(v/a)%s\n",
                 m_strName.c_str(), static_cast<long long>(total.videoPushed),
                 static_cast<long long>(total.videoEncoded), static_cast<long long>(total.audioPushed),
                 static_cast<long long>(total.audioEncoded), total.videoQueueMax, total.audioQueueMax,
                 total.encodeMsMedian, total.encodeMsP99, total.audioLatencyMsMedian,
                 total.audioLatencyMsP99, DropText(total, TRecordStats{}).c_str());
    for (const auto& output : total.outputs) {
        std::fprintf(out, "  %s: %lld packets %lld bytes %.0f kbit/s errors %lld%s\n",
                     output.destination.c_str(), static_cast<long long>(output.packets),
                     static_cast<long long>(output.bytes), output.bytes * 8 / 1000.0 / seconds,
                     static_cast<long long>(output.errors), output.failed ? " FAILED" : "");
    }
}

}  // namespace corvane::cli
