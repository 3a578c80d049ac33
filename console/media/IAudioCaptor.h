#pragma once

#include <cstdint>
#include <string>

#include "console/media/TAudioSrcFormat.h"

struct AVFrame;

namespace console {

// Called on the capture thread for every decoded frame; it must not block and
// must not call Stop. The frame's pts is in microseconds on the monotonic
// clock (av_gettime_relative) and its opaque points at a stream record with
// time base 1/1,000,000 whose start_time is on the same clock.
using AudioFrameCallback = void (*)(AVFrame* frame, void* user);

struct TAudioOpenParams {
    std::string deviceName;  // a source name as listed, or its description
    AudioFrameCallback callback = nullptr;
    void* user = nullptr;
};

enum AudioCaptorState : int { kAudioClosed = 0, kAudioOpen = 1, kAudioCapturing = 2 };

// One audio input captured on a thread of its own.
class IAudioCaptor {
public:
    virtual bool Open(const TAudioOpenParams* params) = 0;
    // 1. Starts the capture thread when open and not running.
    virtual int Start() = 0;
    // Ends the thread and closes the input; nothing when not open. Returns
    // within about 2 s even when a read is stuck.
    virtual void Stop() = 0;
    // Each pointer may be null. Returns an AudioCaptorState.
    virtual int GetFormat(int* sampleFormat, int* sampleRate, int16_t* channels) = 0;
    virtual int GetFormatRecord(TAudioSrcFormat* format) = 0;
    // The last frame's pts in microseconds, -1 when closed or before any.
    virtual int64_t GetLastPtsUs() = 0;

protected:
    ~IAudioCaptor() = default;
};

// Null when the captor cannot be made.
IAudioCaptor* CreateInstance_IAudioCaptor();
// Stops and destroys the captor and clears the holder.
void ReleaseInstance_IAudioCaptor(IAudioCaptor** holder);

}  // namespace console
