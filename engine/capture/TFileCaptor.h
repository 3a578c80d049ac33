#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "common/WorkerThread.h"
#include "engine/capture/IFileCaptor.h"
#include "platform/ManualResetEvent.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace pelorn {

class TOwnerRef;

// Plays a media file: decodes its first video stream (and its first audio
// stream, which is decoded and not delivered), holds every picture back until
// its time stamp is due on the wall clock, re-stamps it with the time that
// really passed and hands it to the input callback. With looping on it seeks
// back to the start at the end of the file and plays on without a pause.
// Pictures handed over hold the open file, so receivers may keep them, and
// read the stream their opaque names, after the captor is stopped or gone.
//
// Threads: Open, Start, Stop, GetFormat and destruction on the owner's thread;
// the playback loop, and with it every callback, on the captor's worker. Stop
// cuts a wait for a distant time stamp short (the wake event) and a blocked
// read (FFmpeg's interrupt callback).
class TFileCaptor final : public IFileCaptor {
public:
    // The pacing of one playback run. Offsets are in the stream's time base,
    // wall times in microseconds of FFmpeg's monotonic clock.
    struct TPlaybackClock {
        AVRational streamTimeBase{1, 1000000};
        AVRational microTimeBase{1, 1000000};
        int64_t startWall = 0;  // 0 until the first frame
        int64_t firstPts = 0;
        int64_t lastOffset = 0;  // latest frame's pts - firstPts
        int64_t passLength = 0;  // 0 until the second pass shows the first pts again
        int32_t passCount = 0;   // rewinds so far

        // Registers a frame decoded at `now`; returns the wall time it is due.
        int64_t DueWall(int64_t pts, int64_t now);
        // The frame's new pts: the time passed since the first frame.
        int64_t Restamp(int64_t now) const;
    };

    // The video rate from the stream's average rate and its real base rate.
    static AVRational ChooseFrameRate(AVRational averageRate, AVRational realBaseRate);

    TFileCaptor();
    ~TFileCaptor();
    TFileCaptor(const TFileCaptor&) = delete;
    TFileCaptor& operator=(const TFileCaptor&) = delete;

    int Open(std::string path, InputFrameCallback callback, void* reserved, void* user,
             int loop) override;
    int OpenW(const char16_t* path, InputFrameCallback callback, void* reserved,
              void* user) override;
    platform::TManualResetEvent* Start() override;
    int Stop() override;
    int GetFormat(TCapVideoFormat* out) override;
    int64_t GetFrameCount() override;

    // Started and not yet ended by the end of the file, an error or Stop.
    bool IsPlaying() const;
    AVRational FrameRate() const { return m_frameRate; }
    // An audio decoder was opened (the file's first audio stream has channels).
    bool DecodesAudio() const { return m_pAudioCodec != nullptr; }

private:
    struct TInputFile;

    static void PlaybackLoop(void* self);

    int OpenDecoder(int streamIndex, AVCodecContext** context);
    void CloseFile();
    void StopWorker();

    void Play();
    bool ShouldStop() const;
    bool ReadPacket(const TOwnerRef& input, AVPacket* packet, TPlaybackClock& clock,
                    int64_t& framesThisPass, AVFrame* video, AVFrame* audio);
    bool Rewind();
    bool DecodeVideo(const TOwnerRef& input, const AVPacket* packet, TPlaybackClock& clock,
                     AVFrame* frame, int64_t& delivered);
    bool DecodeAudio(const AVPacket* packet, AVFrame* frame);
    bool DeliverVideo(const TOwnerRef& input, AVFrame* frame, TPlaybackClock& clock);
    int64_t FramePts(const AVFrame* frame, const TPlaybackClock& clock) const;
    bool WaitUntil(int64_t dueWall);

    AVRational m_frameRate{0, 1};
    // The video decoder's picture as Open found it: GetFormat runs on the
    // owner's thread while the decoder, on the worker, owns its context.
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nPixelFormat = -1;
    std::shared_ptr<TInputFile> m_pInput;  // null when closed
    AVCodecContext* m_pVideoCodec = nullptr;
    AVCodecContext* m_pAudioCodec = nullptr;
    int32_t m_nVideoIndex = -1;
    int32_t m_nAudioIndex = -1;
    common::WorkerThread m_worker{common::WorkerThread::RestartPolicy::AwaitPreviousThenDetach};
    InputFrameCallback m_pCallback = nullptr;
    void* m_pReserved = nullptr;
    void* m_pUser = nullptr;
    int32_t m_nLoop = 0;

    platform::TManualResetEvent m_evtPlaybackEnded;
};

}  // namespace pelorn
