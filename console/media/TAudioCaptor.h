#pragma once

#include <memory>
#include <thread>

#include "console/media/IAudioCaptor.h"

namespace console {

struct TAudioCapture;

// Captures a PulseAudio source ("pulse" input), or an ALSA device when no
// PulseAudio server answers, and restamps every frame on the monotonic clock.
class TAudioCaptor final : public IAudioCaptor {
public:
    TAudioCaptor();
    ~TAudioCaptor();
    TAudioCaptor(const TAudioCaptor&) = delete;
    TAudioCaptor& operator=(const TAudioCaptor&) = delete;

    bool Open(const TAudioOpenParams* params) override;
    int Start() override;
    void Stop() override;
    int GetFormat(int* sampleFormat, int* sampleRate, int16_t* channels) override;
    int GetFormatRecord(TAudioSrcFormat* format) override;
    int64_t GetLastPtsUs() override;

private:
    // Shared with the capture thread, which keeps it alive when Stop has to
    // leave the thread behind.
    std::shared_ptr<TAudioCapture> m_pCapture;
    std::thread m_thread;
};

}  // namespace console
