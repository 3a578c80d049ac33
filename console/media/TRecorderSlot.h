#pragma once

#include <cstdint>
#include <mutex>

#include "console/media/IRecord.h"

struct AVFrame;

namespace console {

// The pictures a recorder was opened for; its converter reads every pushed
// picture as this size and format. A width of 0 accepts any picture.
struct TFrameShape {
    int width = 0;
    int height = 0;
    int format = -1;

    bool Fits(const AVFrame* frame) const;
};

// One recorder place shared between its owner's thread and the producers.
// Producers push through the slot under a short lock; the owner takes the
// recorder out under the same lock before it closes and frees it, so a
// release never overlaps a push. A push only queues, so the lock is held for
// microseconds.
class TRecorderSlot {
public:
    using Release = void (*)(IRecord** holder);

    TRecorderSlot() = default;
    ~TRecorderSlot();
    TRecorderSlot(const TRecorderSlot&) = delete;
    TRecorderSlot& operator=(const TRecorderSlot&) = delete;

    // Owner's thread. Closes and releases a recorder held before.
    void Put(IRecord* recorder, Release release = &ReleaseInstance_IRecord);
    // As Put; pictures of another shape are not pushed to this recorder.
    void Put(IRecord* recorder, TFrameShape shape, Release release = &ReleaseInstance_IRecord);
    // Owner's thread: takes the recorder out; no push reaches it afterwards,
    // and closing and releasing it are the caller's. Null when empty.
    IRecord* Take();
    // Owner's thread: takes the recorder out, then closes and releases it.
    void Close();
    bool IsEmpty() const;
    // Owner's thread: the held recorder for reading its state; null when empty.
    IRecord* Held() const;

    // Any thread. -1 when the slot is empty or the picture does not fit.
    int32_t PushVideo(AVFrame* frame);
    int32_t PushAudio(AVFrame* frame);

private:
    mutable std::mutex m_lock;
    IRecord* m_pRecorder = nullptr;
    Release m_release = &ReleaseInstance_IRecord;
    TFrameShape m_shape;
};

// The live and the file recorder. Video goes to the live one first, audio to
// the file one first.
struct TRecorderSlots {
    TRecorderSlot live;
    TRecorderSlot file;

    void PushVideo(AVFrame* frame) {
        live.PushVideo(frame);
        file.PushVideo(frame);
    }
    void PushAudio(AVFrame* frame) {
        file.PushAudio(frame);
        live.PushAudio(frame);
    }
    bool AnyHeld() const { return !live.IsEmpty() || !file.IsEmpty(); }
};

}  // namespace console
