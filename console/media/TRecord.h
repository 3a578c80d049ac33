#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include "common/FrameRing.h"
#include "common/WorkerThread.h"
#include "console/media/CFFMpegAEnc.h"
#include "console/media/CFFMpegVEnc.h"
#include "console/media/IRecord.h"
#include "console/media/PixelConverter.h"
#include "console/media/RecordParams.h"
#include "console/media/TMediaClock.h"
#include "console/media/TMuxer.h"
#include "console/media/TPushReconnector.h"
#include "console/media/TRecordStats.h"

namespace console {

// Whether Open uses a destination: a file ending in .mp4, .ts, .flv or .mkv,
// or an "rtmp:/" or "udp://" URL, in any case, after trimming.
bool IsUsableOutput(const std::string& destination);

// The recorder. PushVideo runs on the engine's delivery thread, PushAudio on
// the audio thread, the worker converts, encodes and writes; Open, Close and
// Stats belong to the owner's thread.
//
// Every medium's times are mapped to the monotonic clock (TMediaClock); video
// is measured from the start the first audio frame fixes (or, without audio,
// the first warm video frame), audio counts samples from that start. The
// first video frame kept is placed at the start (shifted by the alignment).
class TRecord final : public IRecord {
public:
    static constexpr int kQueueSlots = 200;
    static constexpr int kMaxOutputs = 8;  // TMuxerMaxCnt
    static constexpr int64_t kWarmUpUs = 2000000;
    // How many nice levels encoding runs below the thread that opened the recorder.
    static constexpr int kEncodingNiceSteps = 10;
    static constexpr int64_t kMaxQueuedBytes = int64_t{512} << 20;

    TRecord();
    // The colour-conversion module at `converterModule`.
    explicit TRecord(const std::string& converterModule);
    ~TRecord();
    TRecord(const TRecord&) = delete;
    TRecord& operator=(const TRecord&) = delete;

    int32_t Open(const char* const* outputs, int nOutCnt, const RecordParams* params) override;
    int32_t PushVideo(AVFrame* frame) override;
    int32_t PushAudio(AVFrame* frame) override;
    int32_t EncodeVideoNow(AVFrame* frame) override;
    void Close() override;

    TRecordStats Stats() const;

private:
    // A ring of kQueueSlots frames whose slots hold pointers to frames
    // allocated once; a push references the producer's buffers into one.
    class TFrameQueue {
    public:
        TFrameQueue();
        ~TFrameQueue();
        bool Push(const AVFrame* frame, int64_t pts);
        AVFrame* Front() { return m_ring.IsEmpty() ? nullptr : FrameIn(m_ring.Front()); }
        void Pop();
        void Clear();
        int Count() const { return m_ring.Count(); }
        bool IsFull() const { return m_ring.IsFull(); }

    private:
        // Slots follow the ring's 12-byte header, so a pointer in one is not
        // aligned: it is copied in and out.
        static AVFrame* FrameIn(const void* slot);

        common::FrameRing m_ring;
    };

    static void WorkerRoutine(void* self);
    void WorkerLoop();
    bool OpenEncodersBelowLivePriority();
    bool OpenEncoders();
    void OpenOutputs(const char* const* outputs, int nOutCnt);
    bool EncodeQueuedVideoFrame();
    void EncodeQueuedAudio();
    int64_t AudioSamplesLeft() const;
    const AVFrame* ToEncoderPicture(const AVFrame* frame);
    void FeedAudio(const int16_t* samples, int count);
    const int16_t* ToS16(const AVFrame* frame, int* count);
    void WriteAll(int mediaType, const AVPacket* packet, AVRational timeBase);
    void TakeReopenedOutput(size_t index);
    void KeepStreamParameters();
    int PrepareReopened(TMuxer& muxer) const;
    void FlushEncoders();
    int64_t SourceTimeUs(const AVFrame* frame) const;
    bool FixStart(int64_t startUs);

    common::WorkerThread m_worker;
    RecordParams m_params{};
    std::atomic<int64_t> m_startUs{0};
    std::atomic<bool> m_bVideoWarm{false};
    std::unique_ptr<CFFMpegVEnc> m_VEnc;
    std::string m_strConverterModule;
    std::unique_ptr<PixelConverter> m_pConverter;
    std::unique_ptr<TFrameQueue> m_pVideoQueue;
    std::atomic<int32_t> m_bVideoOpen{0}, m_bVideoBusy{0};
    std::unique_ptr<CFFMpegAEnc> m_pAEnc;
    std::unique_ptr<TFrameQueue> m_pAudioQueue;
    std::atomic<int32_t> m_bAudioOpen{0}, m_bAudioBusy{0};
    std::vector<std::unique_ptr<TMuxer>> m_arrMuxerFile;
    std::vector<std::atomic<bool>> m_arrOutputFailed;  // set by the worker
    // A reopened network output takes packets from the next video keyframe on.
    std::vector<char> m_arrWaitForKey;  // the worker's
    mutable std::mutex m_outputsLock;  // the worker's swap of an output against Stats
    TPushReconnector m_reconnector;
    // The encoders' stream parameters for reopened outputs.
    AVCodecParameters* m_pVideoPar = nullptr;
    AVCodecParameters* m_pAudioPar = nullptr;
    AVRational m_videoTimeBase{1, 30}, m_audioTimeBase{1, 48000};
    std::atomic<int32_t> m_nPushFrameCnt{0}, m_nPopFrameCnt{0};

    // Producer-side state: the video thread's and the audio thread's own.
    TMediaClock m_videoClock, m_audioClock;
    int64_t m_nLastVideoUs = INT64_MIN;
    std::atomic<bool> m_bEnding{false};  // Close has stopped the producers
    int64_t m_nAudioSamplesFed = 0;       // the worker's, per channel
    std::atomic<int64_t> m_nQueuedBytes{0};

    // Worker-side state.
    std::mutex m_encodeLock;  // converter and video encoder: worker against EncodeVideoNow
    AVBufferPool* m_pPicturePool = nullptr;
    AVFrame* m_pPicture = nullptr;  // the converted picture being encoded
    SwrContext* m_pResampler = nullptr;
    AVChannelLayout m_resampleInLayout{};
    int m_nResampleInFormat = -1, m_nResampleInRate = 0;
    std::vector<int16_t> m_resampled;

    TRecordCounters m_counters;
};

}  // namespace console
