#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "tools/cli/TCliOptions.h"

namespace corvane::cli {

// The runner's audio captor: the media file's own audio track (looped) or a
// 1 kHz tone, delivered in real time on a thread of its own. Each frame is
// stamped in µs of the monotonic clock (pts, no stream record): the start
// time plus the frame's place in the audio.
class TAudioFeeder {
public:
    using Sink = std::function<void(AVFrame*)>;

    TAudioFeeder() = default;
    ~TAudioFeeder();
    TAudioFeeder(const TAudioFeeder&) = delete;
    TAudioFeeder& operator=(const TAudioFeeder&) = delete;

    // False with `error` when the file's audio cannot be read.
    bool Open(EAudioSource source, const std::string& file, std::string& error);
    bool IsOpen() const { return m_source == EAudioSource::kFile || m_source == EAudioSource::kTone; }
    // The format the captor reports: AVSampleFormat, rate, channels.
    int SampleFormat() const { return m_nSampleFormat; }
    int SampleRate() const { return m_nSampleRate; }
    int Channels() const { return m_nChannels; }

    // Delivers frames due from `startUs` on (monotonic µs) until Stop.
    void Start(int64_t startUs, Sink sink);
    void Stop();

private:
    void Run();
    bool NextFileFrame(AVFrame* frame, int64_t* offsetUs);
    void NextToneFrame(AVFrame* frame, int64_t* offsetUs);
    bool WaitUntil(int64_t dueUs) const;

    EAudioSource m_source = EAudioSource::kNone;
    int m_nSampleFormat = AV_SAMPLE_FMT_S16;
    int m_nSampleRate = 48000;
    int m_nChannels = 2;
    AVFormatContext* m_pFormat = nullptr;
    AVCodecContext* m_pDecoder = nullptr;
    int m_nStream = -1;
    AVPacket* m_pPacket = nullptr;
    int64_t m_nLoopOffsetUs = 0;  // added to file times after each loop
    int64_t m_nLastEndUs = 0;
    int64_t m_nToneSamples = 0;

    int64_t m_nStartUs = 0;
    Sink m_sink;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

}  // namespace corvane::cli
