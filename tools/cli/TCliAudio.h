#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "console/media/IAudioCaptor.h"

struct AVFrame;

namespace corvane::cli {

// The console's RestartAudio without its dialog: releases the captor held,
// then creates, opens and starts one for `deviceName`. False with the reason
// in front of the error trail, and nothing held.
bool RestartAudio(const std::string& deviceName, console::AudioFrameCallback callback, void* user,
                  console::IAudioCaptor** holder);

// The name to open for the listed audio input whose description or name is
// `name`; empty when no such input is listed.
std::string ListedAudioInput(const std::string& name);

// Counts the captured audio and compares its sample clock with the wall
// clock. Each frame arrives some time after its last sample was captured;
// that lag jitters with scheduling and the server's fragment size but never
// goes below the true transport delay. The smallest lag of the first
// seconds against the smallest of the latest seconds is therefore what the
// samples gained or lost against the elapsed time, free of that jitter.
class TAudioTally {
public:
    static constexpr int64_t kWindowUs = 2000000;

    // On the capture thread, once per frame.
    void Note(const AVFrame* frame, int64_t arrivalUs);
    int64_t Frames() const;
    // "audio frames N samples S over T s at R Hz: +D ms" (D: samples beyond
    // the elapsed time; negative when samples were lost).
    void Print(const char* label, std::FILE* out) const;

private:
    mutable std::mutex m_lock;
    int64_t m_nFrames = 0;
    int64_t m_nSamples = 0;
    int m_nRate = 0;
    int64_t m_nFirstArrivalUs = 0;
    int64_t m_nLastArrivalUs = 0;
    int64_t m_nFirstWindowMinLagUs = 0;
    // The smallest lags of the window being filled and of the one before it.
    int64_t m_nWindow = 0;
    int64_t m_nWindowMinLagUs[2] = {};
};

}  // namespace corvane::cli
