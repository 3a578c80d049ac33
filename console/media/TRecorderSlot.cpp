#include "console/media/TRecorderSlot.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <utility>

namespace console {

TRecorderSlot::~TRecorderSlot() { Close(); }

bool TFrameShape::Fits(const AVFrame* frame) const {
    return width == 0 || (frame->width == width && frame->height == height && frame->format == format);
}

void TRecorderSlot::Put(IRecord* recorder, Release release) { Put(recorder, TFrameShape{}, release); }

void TRecorderSlot::Put(IRecord* recorder, TFrameShape shape, Release release) {
    Close();
    std::lock_guard<std::mutex> hold(m_lock);
    m_pRecorder = recorder;
    m_release = release;
    m_shape = shape;
}

IRecord* TRecorderSlot::Take() {
    std::lock_guard<std::mutex> hold(m_lock);
    return std::exchange(m_pRecorder, nullptr);
}

void TRecorderSlot::Close() {
    IRecord* recorder = nullptr;
    Release release = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        recorder = m_pRecorder;
        release = m_release;
        m_pRecorder = nullptr;
    }
    if (recorder == nullptr) return;
    recorder->Close();
    release(&recorder);
}

bool TRecorderSlot::IsEmpty() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_pRecorder == nullptr;
}

IRecord* TRecorderSlot::Held() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_pRecorder;
}

int32_t TRecorderSlot::PushVideo(AVFrame* frame) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pRecorder == nullptr || !m_shape.Fits(frame)) return -1;
    return m_pRecorder->PushVideo(frame);
}

int32_t TRecorderSlot::PushAudio(AVFrame* frame) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_pRecorder != nullptr ? m_pRecorder->PushAudio(frame) : -1;
}

}  // namespace console
