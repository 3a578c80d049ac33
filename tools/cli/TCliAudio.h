#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
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

// Counts the captured audio: frames, and samples against the time elapsed
// between the first and the latest frame's arrival.
class TAudioTally {
public:
    // On the capture thread, once per frame.
    void Note(const AVFrame* frame, int64_t arrivalUs);
    int64_t Frames() const { return m_nFrames.load(std::memory_order_relaxed); }
    // "audio frames N samples S over T s: +D ms" (D: samples beyond the time).
    void Print(const char* label, std::FILE* out) const;

private:
    std::atomic<int64_t> m_nFrames{0};
    std::atomic<int64_t> m_nSamples{0};
    std::atomic<int64_t> m_nFirstSamples{0};
    std::atomic<int64_t> m_nFirstArrivalUs{0};
    std::atomic<int64_t> m_nLastArrivalUs{0};
    std::atomic<int> m_nRate{0};
};

}  // namespace corvane::cli
