#include "console/media/TVideoRestamp.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace console {

TVideoRestamp::TVideoRestamp() : m_pContext(avformat_alloc_context()) {
    m_pStream = m_pContext != nullptr ? avformat_new_stream(m_pContext, nullptr) : nullptr;
    if (m_pStream != nullptr) m_pStream->time_base = AVRational{1, 1000000};
}

TVideoRestamp::~TVideoRestamp() { avformat_free_context(m_pContext); }

void TVideoRestamp::Push(TRecorderSlots& recorders, AVFrame* frame, bool restamp) {
    if (!restamp || m_pStream == nullptr) {
        recorders.PushVideo(frame);
        return;
    }
    if (m_pStream->start_time == AV_NOPTS_VALUE) m_pStream->start_time = frame->pkt_duration;
    const int64_t pts = frame->pts;
    void* opaque = frame->opaque;
    frame->pts = frame->pkt_duration;
    frame->opaque = m_pStream;
    recorders.PushVideo(frame);
    frame->pts = pts;
    frame->opaque = opaque;
}

}  // namespace console
