#include "console/media/TRecord.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "console/media/MediaCodes.h"
#include "platform/DebugOutput.h"
#include "platform/ThreadPriority.h"

namespace console {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};
constexpr int kWorkerIdleWaitMs = 100;

std::string Trim(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int64_t FrameBytes(const AVFrame* frame) {
    int64_t bytes = 0;
    for (const AVBufferRef* buffer : frame->buf)
        if (buffer != nullptr) bytes += static_cast<int64_t>(buffer->size);
    return bytes;
}

}  // namespace

bool IsUsableOutput(const std::string& destination) {
    const std::string text = Lower(Trim(destination));
    if (text.rfind("rtmp:/", 0) == 0 || text.rfind("udp://", 0) == 0) return true;
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = text.substr(dot);
    return extension == ".mp4" || extension == ".ts" || extension == ".flv" || extension == ".mkv";
}

// ---- the queues ----------------------------------------------------------

AVFrame* TRecord::TFrameQueue::FrameIn(const void* slot) {
    AVFrame* frame = nullptr;
    std::memcpy(&frame, slot, sizeof frame);
    return frame;
}

TRecord::TFrameQueue::TFrameQueue() : m_ring(kQueueSlots, sizeof(AVFrame*)) {
    for (int i = 0; i < kQueueSlots; ++i) {
        AVFrame* frame = av_frame_alloc();
        std::memcpy(m_ring.Slot(i), &frame, sizeof frame);
    }
}

TRecord::TFrameQueue::~TFrameQueue() {
    for (int i = 0; i < kQueueSlots; ++i) {
        AVFrame* frame = FrameIn(m_ring.Slot(i));
        av_frame_free(&frame);
    }
}

bool TRecord::TFrameQueue::Push(const AVFrame* frame, int64_t pts) {
    void* slot = m_ring.TailSlot();
    if (slot == nullptr) return false;
    AVFrame* queued = FrameIn(slot);
    if (av_frame_ref(queued, frame) < 0) return false;
    queued->pts = pts;
    m_ring.Push();
    return true;
}

void TRecord::TFrameQueue::Pop() {
    if (AVFrame* frame = Front()) av_frame_unref(frame);
    m_ring.Pop();
}

void TRecord::TFrameQueue::Clear() {
    while (Front() != nullptr) Pop();
}

// ---- creation ------------------------------------------------------------

IRecord* CreateInstance_IRecord() { return new TRecord(); }

void ReleaseInstance_IRecord(IRecord** holder) {
    if (holder == nullptr || *holder == nullptr) return;
    (*holder)->Close();
    delete static_cast<TRecord*>(*holder);
    *holder = nullptr;
}

TRecord::TRecord() : TRecord(std::string()) {}

TRecord::TRecord(const std::string& converterModule)
    : m_strConverterModule(converterModule),
      m_reconnector([this](TMuxer& muxer) { return PrepareReopened(muxer); }),
      m_pPicture(av_frame_alloc()) {
    m_pConverter = m_strConverterModule.empty() ? std::make_unique<PixelConverter>()
                                                : std::make_unique<PixelConverter>(m_strConverterModule);
}

TRecord::~TRecord() {
    Close();
    m_worker.Destroy();
    av_frame_free(&m_pPicture);
    av_buffer_pool_uninit(&m_pPicturePool);
    swr_free(&m_pResampler);
    av_channel_layout_uninit(&m_resampleInLayout);
    avcodec_parameters_free(&m_pVideoPar);
    avcodec_parameters_free(&m_pAudioPar);
}

// ---- Open and Close ------------------------------------------------------

int32_t TRecord::Open(const char* const* outputs, int nOutCnt, const RecordParams* params) {
    if (m_bVideoOpen || m_bAudioOpen) {
        common::ErrorTrail::Add("TRecord::Open: not Closed");
        return 1;
    }
    if (nOutCnt >= kMaxOutputs) {
        common::ErrorTrail::Add("TRecord::Open: nOutCnt >= TMuxerMaxCnt");
        return 1;
    }
    m_params = *params;
    m_startUs = 0;
    m_bEnding = false;
    m_nAudioSamplesFed = 0;
    m_bVideoWarm = false;
    m_bVideoBusy = m_bAudioBusy = 0;
    m_nPushFrameCnt = m_nPopFrameCnt = 0;
    m_nLastVideoUs = INT64_MIN;
    m_nQueuedBytes = 0;
    m_videoClock.Reset();
    m_audioClock.Reset();
    m_counters.Reset();
    m_arrMuxerFile.clear();
    if (!OpenEncodersBelowLivePriority()) return 1;
    if (m_VEnc && !m_pVideoQueue) m_pVideoQueue = std::make_unique<TFrameQueue>();
    if (m_pAEnc && !m_pAudioQueue) m_pAudioQueue = std::make_unique<TFrameQueue>();
    OpenOutputs(outputs, nOutCnt);
    if (m_arrMuxerFile.empty()) {
        common::ErrorTrail::Add("(TRecord::Open: m_arrMuxerFile.GetSize() == 0");
        m_VEnc.reset();
        m_pAEnc.reset();
        return 1;
    }
    m_arrOutputFailed = std::vector<std::atomic<bool>>(m_arrMuxerFile.size());
    m_arrWaitForKey.assign(m_arrMuxerFile.size(), 0);
    KeepStreamParameters();
    m_reconnector.Start(m_arrMuxerFile.size());
    m_worker.Start(&TRecord::WorkerRoutine, this);
    m_bVideoOpen = m_VEnc != nullptr;
    m_bAudioOpen = m_pAEnc != nullptr;
    return 0;
}

// Encoding yields the processor to the live picture (the engine, the echo
// window, the user interface): the encoders' threads start from a thread of
// lower priority and keep it. The worker, which converts the pictures and
// encodes the sound, keeps its own, so sound waits for no picture's
// encoding. The queues hold what waits meanwhile.
bool TRecord::OpenEncodersBelowLivePriority() {
    bool opened = false;
    std::thread([this, &opened] {
        platform::LowerCallingThreadPriority(kEncodingNiceSteps);
        opened = OpenEncoders();
    }).join();
    return opened;
}

bool TRecord::OpenEncoders() {
    m_VEnc.reset();
    m_pAEnc.reset();
    if (m_params.videoCodecId != 0) {
        const auto& src = m_params.srcVideo;
        if (src.pixelFormat != AV_PIX_FMT_NV12 || src.width != m_params.width ||
            src.height != m_params.height) {
            const int ret = m_pConverter->Configure(src.width, src.height, src.pixelFormat,
                                                    m_params.width, m_params.height, AV_PIX_FMT_NV12);
            if (ret != 0) common::ErrorTrail::AddRet("TRecord::Open: PixelConverter error", ret);
        }
        m_VEnc = std::make_unique<CFFMpegVEnc>();
        const int ret = m_VEnc->Open(m_params.videoCodecId, m_params.width, m_params.height,
                                     AVRational{1, std::max<int>(m_params.fps, 1)}, m_params.gop,
                                     m_params.videoBitRate);
        if (ret != 0) {
            m_VEnc.reset();
            common::ErrorTrail::AddHr("m_VEnc.Open error", ret);
        } else {
            av_buffer_pool_uninit(&m_pPicturePool);
            m_pPicturePool = av_buffer_pool_init(
                av_image_get_buffer_size(AV_PIX_FMT_NV12, m_params.width, m_params.height, 1), nullptr);
        }
    }
    if (m_params.audioCodecId != 0) {
        m_pAEnc = std::make_unique<CFFMpegAEnc>();
        const int ret = m_pAEnc->Open(m_params.audioCodecId, m_params.channels, m_params.sampleRate,
                                      m_params.audioBitRate);
        if (ret != 0) {
            m_pAEnc.reset();
            common::ErrorTrail::AddHr("pAEnc->Open error", ret);
        }
    }
    return m_VEnc || m_pAEnc;
}

void TRecord::OpenOutputs(const char* const* outputs, int nOutCnt) {
    for (int i = 0; i < nOutCnt; ++i) {
        if (outputs[i] == nullptr || !IsUsableOutput(outputs[i])) continue;
        const std::string destination = Trim(outputs[i]);
        auto muxer = std::make_unique<TMuxer>();
        if (!muxer->IsNetwork()) {
            std::error_code ignored;
            std::filesystem::remove(destination, ignored);
        }
        int ret = muxer->Open(destination);
        if (ret != 0) {
            common::ErrorTrail::AddHr("pMuxer->Open error", ret);
            continue;
        }
        if (m_VEnc && muxer->AddStream(m_VEnc->CodecContext()) != 0)
            common::ErrorTrail::Add(" pMuxer->AddStream Video error");
        if (m_pAEnc && muxer->AddStream(m_pAEnc->CodecContext()) != 0)
            common::ErrorTrail::Add(" pMuxer->AddStream Auido error");
        ret = muxer->Start();
        if (ret != 0) {
            common::ErrorTrail::AddHr("m_arrMuxerFile[i]->Start error", ret);
            continue;
        }
        m_arrMuxerFile.push_back(std::move(muxer));
    }
}

void TRecord::Close() {
    if (!m_bVideoOpen && !m_bAudioOpen) return;
    m_reconnector.Stop();
    // A stalled server must not hold Close: network operations end quickly now.
    {
        std::lock_guard lock(m_outputsLock);
        for (auto& muxer : m_arrMuxerFile)
            if (muxer->IsNetwork()) muxer->Abort();
    }
    m_bVideoOpen = 0;
    m_bAudioOpen = 0;
    while (m_bVideoBusy || m_bAudioBusy) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // No picture comes after the last one queued: the sound ends with it.
    m_bEnding = true;
    m_worker.Stop();
    if (m_pVideoQueue) m_pVideoQueue->Clear();
    if (m_pAudioQueue) m_pAudioQueue->Clear();
    m_nQueuedBytes = 0;
    FlushEncoders();
    const bool hadVideo = m_VEnc != nullptr;
    m_VEnc.reset();
    m_pAEnc.reset();
    for (auto& muxer : m_arrMuxerFile) muxer->Close();
    if (hadVideo && m_nPushFrameCnt == 0) common::ErrorTrail::Add("record error, m_nPushFrameCnt = 0");
    if (hadVideo && m_nPopFrameCnt == 0) common::ErrorTrail::Add("record error, m_nPopFrameCnt = 0");
}

void TRecord::FlushEncoders() {
    AVPacket* packet = nullptr;
    if (m_VEnc) {
        std::lock_guard lock(m_encodeLock);
        while (m_VEnc->Encode(&packet, nullptr, nullptr) == 0 && packet != nullptr)
            WriteAll(AVMEDIA_TYPE_VIDEO, packet, m_VEnc->FlushTimeBase());
    }
    if (m_pAEnc) {
        int consumed = 0;
        while (m_pAEnc->Encode(nullptr, 0, &consumed, &packet) == 0 && packet != nullptr)
            WriteAll(AVMEDIA_TYPE_AUDIO, packet, m_pAEnc->CodecContext()->time_base);
    }
}

// ---- producers -----------------------------------------------------------

// The frame's time in µs of its source clock: pts in its stream's time base
// (the stream record in opaque), or µs when it carries none.
int64_t TRecord::SourceTimeUs(const AVFrame* frame) const {
    const auto* stream = static_cast<const AVStream*>(frame->opaque);
    const AVRational timeBase = stream != nullptr ? stream->time_base : kMicroseconds;
    return av_rescale_q(frame->pts, timeBase, kMicroseconds);
}

bool TRecord::FixStart(int64_t startUs) {
    int64_t expected = 0;
    return m_startUs.compare_exchange_strong(expected, startUs);
}

int32_t TRecord::PushVideo(AVFrame* frame) {
    m_bVideoBusy = 1;  // before the open test, so Close cannot slip between them
    if (!m_bVideoOpen || frame == nullptr) {
        m_bVideoBusy = 0;
        return 0;
    }
    m_counters.videoPushed.fetch_add(1, std::memory_order_relaxed);
    const int64_t now = av_gettime_relative();
    // Engine frames carry their arrival time (monotonic µs) in pkt_duration.
    const int64_t arrival =
        std::llabs(frame->pkt_duration - now) <= TMediaClock::kNearUs ? frame->pkt_duration : now;
    const int64_t t = m_videoClock.Map(SourceTimeUs(frame), arrival);
    const auto* stream = static_cast<const AVStream*>(frame->opaque);
    const int64_t streamStart = stream != nullptr ? stream->start_time : -1;
    std::optional<EDropCause> drop;
    if (m_startUs == 0) {
        const int64_t sinceStart =
            streamStart == AV_NOPTS_VALUE || streamStart == -1 ? frame->pts : frame->pts - streamStart;
        const AVRational timeBase = stream != nullptr ? stream->time_base : kMicroseconds;
        m_bVideoWarm = av_rescale_q(sinceStart, timeBase, kMicroseconds) >= kWarmUpUs;
        if (m_bVideoWarm && (!m_pAEnc || streamStart == -1)) FixStart(t);
    }
    // The frame that fixes the start is the first one kept.
    if (m_startUs == 0) {
        drop = EDropCause::kWarmUp;
    } else {
        const int64_t alignUs = m_params.avAlignMs * int64_t{1000};
        int64_t rel = t - m_startUs + alignUs;
        // The first frame kept stands for the picture at the start, so the
        // video begins where the audio does, not a frame or two later.
        if (m_nLastVideoUs == INT64_MIN && rel >= 0) rel = std::min(rel, std::max<int64_t>(alignUs, 0));
        if (rel < 0) {
            drop = EDropCause::kBeforeStart;
        } else if (rel <= m_nLastVideoUs) {
            drop = EDropCause::kNotRising;
        } else if (m_pVideoQueue->IsFull()) {
            m_worker.Wake();
            platform::DebugOutput("\n\r -------------- TRecord Video quene full\n\r");
            drop = EDropCause::kQueueFull;
        } else if (m_nQueuedBytes + FrameBytes(frame) > kMaxQueuedBytes) {
            drop = EDropCause::kMemoryBound;
        } else if (m_pVideoQueue->Push(frame, rel)) {
            m_nQueuedBytes += FrameBytes(frame);
            m_nLastVideoUs = rel;
            m_counters.NoteQueueDepth(m_counters.videoQueueMax, m_pVideoQueue->Count());
            m_worker.Wake();
        } else {
            drop = EDropCause::kMemoryBound;
        }
    }
    if (drop) m_counters.CountVideoDrop(*drop);
    ++m_nPushFrameCnt;
    m_bVideoBusy = 0;
    return 0;
}

int32_t TRecord::PushAudio(AVFrame* frame) {
    m_bAudioBusy = 1;
    if (!m_bAudioOpen || frame == nullptr) {
        m_bAudioBusy = 0;
        return -1;
    }
    m_counters.audioPushed.fetch_add(1, std::memory_order_relaxed);
    const int64_t now = av_gettime_relative();
    const int64_t t = m_audioClock.Map(SourceTimeUs(frame), now);
    if (m_startUs == 0) {
        // With video, audio waits until the video is warm.
        if (!m_VEnc || m_bVideoWarm) FixStart(t);
        if (m_startUs == 0) {
            m_counters.CountAudioDrop(EDropCause::kWarmUp);
            m_bAudioBusy = 0;
            return 0;
        }
    }
    // The queued copy carries its capture time on the monotonic clock, from
    // which the worker measures the latency; the encoder counts samples and
    // never reads it.
    if (m_pAudioQueue->Push(frame, t))
        m_counters.NoteQueueDepth(m_counters.audioQueueMax, m_pAudioQueue->Count());
    else
        m_counters.CountAudioDrop(EDropCause::kQueueFull);
    // Sound wakes the worker too: left for the next picture, it waited up to
    // a frame interval and that picture's encoding before its own turn.
    m_worker.Wake();
    m_bAudioBusy = 0;
    return 0;
}

int32_t TRecord::EncodeVideoNow(AVFrame* frame) {
    if (!m_VEnc || frame == nullptr) return -1;
    std::lock_guard lock(m_encodeLock);
    const AVFrame* picture = frame;
    if (frame->format != AV_PIX_FMT_NV12 || frame->width != m_params.width ||
        frame->height != m_params.height) {
        if (m_pConverter->Convert(frame, m_pConverter->OwnFrame()) != 0) return -1;
        picture = m_pConverter->OwnFrame();
    }
    AVPacket* packet = nullptr;
    const int ret = m_VEnc->Encode(&packet, picture, nullptr);
    if (ret < 0) return -1;
    if (packet != nullptr) WriteAll(AVMEDIA_TYPE_VIDEO, packet, m_VEnc->CodecContext()->time_base);
    return 0;
}

// ---- the worker ----------------------------------------------------------

void TRecord::WorkerRoutine(void* self) { static_cast<TRecord*>(self)->WorkerLoop(); }

// The wake event is reset before the queues are looked at, so a push that
// lands after the look sets it again and is not missed. A stop request seen
// before the queues are drained ends the loop after that drain.
void TRecord::WorkerLoop() {
    for (;;) {
        const bool stopping = m_worker.ExitRequested();
        m_worker.ResetWake();
        while (EncodeQueuedVideoFrame()) EncodeQueuedAudio();
        EncodeQueuedAudio();
        if (stopping) break;
        m_worker.WaitForWake(kWorkerIdleWaitMs);
    }
    m_worker.ConfirmExit();
}

const AVFrame* TRecord::ToEncoderPicture(const AVFrame* frame) {
    if (frame->format == AV_PIX_FMT_NV12 && frame->width == m_params.width &&
        frame->height == m_params.height)
        return frame;
    av_frame_unref(m_pPicture);
    m_pPicture->format = AV_PIX_FMT_NV12;
    m_pPicture->width = m_params.width;
    m_pPicture->height = m_params.height;
    m_pPicture->buf[0] = av_buffer_pool_get(m_pPicturePool);
    if (m_pPicture->buf[0] == nullptr) return nullptr;
    av_image_fill_arrays(m_pPicture->data, m_pPicture->linesize, m_pPicture->buf[0]->data,
                         AV_PIX_FMT_NV12, m_params.width, m_params.height, 1);
    if (m_pConverter->Convert(frame, m_pPicture) != 0) return nullptr;
    return m_pPicture;
}

bool TRecord::EncodeQueuedVideoFrame() {
    AVFrame* frame = m_pVideoQueue ? m_pVideoQueue->Front() : nullptr;
    if (frame == nullptr) return false;
    const int64_t captureUs = frame->pts;
    const auto began = std::chrono::steady_clock::now();
    std::unique_lock lock(m_encodeLock);
    if (const AVFrame* picture = ToEncoderPicture(frame)) {
        AVPacket* packet = nullptr;
        const int ret = m_VEnc->Encode(&packet, picture, &captureUs);
        if (ret < 0) {
            m_counters.CountVideoDrop(EDropCause::kEncoder);
        } else {
            m_counters.videoEncoded.fetch_add(1, std::memory_order_relaxed);
            m_counters.AddEncodeTime(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
            if (packet != nullptr) WriteAll(AVMEDIA_TYPE_VIDEO, packet, kMicroseconds);
        }
    } else {
        m_counters.CountVideoDrop(EDropCause::kConversion);
    }
    lock.unlock();
    av_frame_unref(m_pPicture);
    m_nQueuedBytes -= FrameBytes(frame);
    m_pVideoQueue->Pop();
    ++m_nPopFrameCnt;
    return true;
}

// While the recorder ends with pictures recorded, the samples that would
// outlast the last picture; no limit otherwise.
int64_t TRecord::AudioSamplesLeft() const {
    if (!m_bEnding || !m_VEnc || m_nLastVideoUs == INT64_MIN || m_params.fps <= 0) return INT64_MAX;
    const int64_t videoEndUs = m_nLastVideoUs + 1000000 / m_params.fps;
    return std::max<int64_t>(0, av_rescale(videoEndUs, m_params.sampleRate, 1000000) - m_nAudioSamplesFed);
}

void TRecord::EncodeQueuedAudio() {
    while (AVFrame* frame = m_pAudioQueue ? m_pAudioQueue->Front() : nullptr) {
        int count = 0;
        if (const int16_t* samples = ToS16(frame, &count)) {
            m_counters.AddAudioLatency(static_cast<double>(av_gettime_relative() - frame->pts) / 1000.0);
            count = static_cast<int>(std::min<int64_t>(count, AudioSamplesLeft()));
            m_nAudioSamplesFed += count;
            FeedAudio(samples, count);
            m_counters.audioEncoded.fetch_add(1, std::memory_order_relaxed);
        } else {
            m_counters.CountAudioDrop(EDropCause::kConversion);
        }
        m_pAudioQueue->Pop();
    }
}

// The frame's samples as 16-bit interleaved at the encoder's rate and
// channel count, resampled when they are not; null on a conversion error.
const int16_t* TRecord::ToS16(const AVFrame* frame, int* count) {
    const int channels = m_params.channels;
    if (frame->format == AV_SAMPLE_FMT_S16 && frame->ch_layout.nb_channels == channels &&
        frame->sample_rate == m_params.sampleRate) {
        *count = frame->nb_samples;
        return reinterpret_cast<const int16_t*>(frame->data[0]);
    }
    if (m_pResampler == nullptr || m_nResampleInFormat != frame->format ||
        m_nResampleInRate != frame->sample_rate ||
        av_channel_layout_compare(&m_resampleInLayout, &frame->ch_layout) != 0) {
        swr_free(&m_pResampler);
        AVChannelLayout in{}, out{};
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
        av_channel_layout_default(&out, channels);
        const int ret = swr_alloc_set_opts2(&m_pResampler, &out, AV_SAMPLE_FMT_S16, m_params.sampleRate,
                                            &in, static_cast<AVSampleFormat>(frame->format),
                                            frame->sample_rate, 0, nullptr);
        if (ret < 0 || swr_init(m_pResampler) < 0) {
            swr_free(&m_pResampler);
            return nullptr;
        }
        av_channel_layout_uninit(&m_resampleInLayout);
        av_channel_layout_copy(&m_resampleInLayout, &frame->ch_layout);
        m_nResampleInFormat = frame->format;
        m_nResampleInRate = frame->sample_rate;
    }
    const int capacity = static_cast<int>(
        av_rescale_rnd(swr_get_delay(m_pResampler, frame->sample_rate) + frame->nb_samples,
                       m_params.sampleRate, frame->sample_rate, AV_ROUND_UP));
    if (m_resampled.size() < static_cast<size_t>(capacity) * channels)
        m_resampled.resize(static_cast<size_t>(capacity) * channels);
    uint8_t* out = reinterpret_cast<uint8_t*>(m_resampled.data());
    const int converted = swr_convert(m_pResampler, &out, capacity,
                                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0) return nullptr;
    *count = converted;
    return m_resampled.data();
}

void TRecord::FeedAudio(const int16_t* samples, int count) {
    const int channels = m_params.channels;
    while (count > 0) {
        int consumed = 0;
        AVPacket* packet = nullptr;
        const int ret = m_pAEnc->Encode(samples, count, &consumed, &packet);
        if (packet != nullptr) WriteAll(AVMEDIA_TYPE_AUDIO, packet, m_pAEnc->CodecContext()->time_base);
        if ((ret < 0 && ret != kResultAgain) || consumed <= 0) break;
        samples += consumed * channels;
        count -= consumed;
    }
}

void TRecord::KeepStreamParameters() {
    avcodec_parameters_free(&m_pVideoPar);
    avcodec_parameters_free(&m_pAudioPar);
    if (m_VEnc) {
        m_pVideoPar = avcodec_parameters_alloc();
        avcodec_parameters_from_context(m_pVideoPar, m_VEnc->CodecContext());
        m_videoTimeBase = m_VEnc->CodecContext()->time_base;
    }
    if (m_pAEnc) {
        m_pAudioPar = avcodec_parameters_alloc();
        avcodec_parameters_from_context(m_pAudioPar, m_pAEnc->CodecContext());
        m_audioTimeBase = m_pAEnc->CodecContext()->time_base;
    }
}

// On the reconnector's thread: only the kept parameters are read.
int TRecord::PrepareReopened(TMuxer& muxer) const {
    if (m_pVideoPar != nullptr && muxer.AddStream(m_pVideoPar, m_videoTimeBase) != 0) return kResultFail;
    if (m_pAudioPar != nullptr && muxer.AddStream(m_pAudioPar, m_audioTimeBase) != 0) return kResultFail;
    return muxer.Start();
}

void TRecord::TakeReopenedOutput(size_t index) {
    std::unique_ptr<TMuxer> reopened = m_reconnector.TakeReopened(index);
    if (!reopened) return;
    {
        std::lock_guard lock(m_outputsLock);
        std::swap(reopened, m_arrMuxerFile[index]);
    }
    m_arrOutputFailed[index] = false;
    m_arrWaitForKey[index] = 1;
    // `reopened` now holds the failed output; its closing ends quickly.
}

void TRecord::WriteAll(int mediaType, const AVPacket* packet, AVRational timeBase) {
    const bool keyframe = mediaType == AVMEDIA_TYPE_VIDEO && (packet->flags & AV_PKT_FLAG_KEY) != 0;
    for (size_t i = 0; i < m_arrMuxerFile.size(); ++i) {
        if (m_arrOutputFailed[i]) TakeReopenedOutput(i);
        if (m_arrOutputFailed[i]) continue;
        if (m_arrWaitForKey[i] && !keyframe) continue;
        m_arrWaitForKey[i] = 0;
        TMuxer& muxer = *m_arrMuxerFile[i];
        // A network output that failed would hold every later write for its
        // time limit: it is left to the reconnector, its packets dropped.
        if (muxer.Write(mediaType, packet, timeBase) < 0 && muxer.IsNetwork()) {
            muxer.Abort();
            m_arrOutputFailed[i] = true;
            m_reconnector.ReportFailure(i, muxer.Destination());
        }
    }
}

TRecordStats TRecord::Stats() const {
    TRecordStats stats;
    std::lock_guard lock(m_outputsLock);
    m_counters.Fill(&stats);
    stats.videoQueueDepth = m_pVideoQueue ? m_pVideoQueue->Count() : 0;
    stats.audioQueueDepth = m_pAudioQueue ? m_pAudioQueue->Count() : 0;
    for (size_t i = 0; i < m_arrMuxerFile.size(); ++i) {
        const TMuxer& muxer = *m_arrMuxerFile[i];
        stats.outputs.push_back({muxer.Destination(), muxer.BytesWritten(), muxer.PacketsWritten(),
                                 muxer.WriteErrors(), i < m_arrOutputFailed.size() && m_arrOutputFailed[i].load()});
    }
    return stats;
}

}  // namespace console
