#include "engine/capture/TFileCaptor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "engine/capture/TOwnerRef.h"

namespace pelorn {
namespace {

constexpr char kStartError[] = "TFileCaptor::StartCapture error";

// Time stamps come from the file and may be anything; pacing arithmetic
// saturates instead of overflowing.
int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int64_t SaturatingMul(int64_t a, int64_t b) {
    int64_t product = 0;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min()
                              : std::numeric_limits<int64_t>::max();
}

// About 36000 years in microseconds: far enough for any real file, small
// enough that adding a clock reading cannot overflow.
constexpr int64_t kMaxMicros = int64_t{1} << 60;

int64_t RescaleToMicros(int64_t value, AVRational timeBase) {
    // Bounded first so that av_rescale_q never sees a product it cannot hold.
    const int64_t bound = std::numeric_limits<int64_t>::max() / 1000000 / std::max(timeBase.num, 1);
    const int64_t micros =
        av_rescale_q(std::clamp(value, -bound, bound), timeBase, AVRational{1, 1000000});
    return std::clamp(micros, -kMaxMicros, kMaxMicros);
}

bool NearStandardRate(double rate) {
    for (double standard : {24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0}) {
        if (std::fabs(rate - standard) <= 0.005) return true;
    }
    return false;
}

bool ChooseRealBaseRate(double a, double r) {
    const double g = r / a;
    if ((g >= 1.9 && g <= 2.1) || (g >= 0.49 && g <= 0.51)) return r > 23 && r < 32;
    if (g > 0.85 && g < 1.15) {
        if (NearStandardRate(r)) return true;
        if (NearStandardRate(a)) return false;
        const double nearest = std::trunc(a + 0.5);
        return std::fabs(a - nearest) > std::fabs(r - nearest);
    }
    return (a < 1 || a > 100) && r > 1 && r < 100;
}

int FirstStreamOf(const AVFormatContext* context, AVMediaType type) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i]->codecpar->codec_type == type) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

// The open file with the stop flag its reads watch. The captor shares it with
// every picture it delivers, whose opaque names one of its streams, so the
// file is closed when the last of them lets go, possibly after the captor is
// gone; hence FFmpeg's interrupt callback looks here and not at the captor.
struct TFileCaptor::TInputFile {
    AVFormatContext* formatContext = nullptr;
    // Raised by Stop before the worker is asked to leave; read by FFmpeg on
    // whichever thread is inside it.
    std::atomic<bool> stopRequested{false};

    TInputFile() = default;
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;
    ~TInputFile() { avformat_close_input(&formatContext); }

    static int Interrupted(void* self) {
        const auto* input = static_cast<const TInputFile*>(self);
        return input->stopRequested.load(std::memory_order_acquire) ? 1 : 0;
    }
};

AVRational TFileCaptor::ChooseFrameRate(AVRational averageRate, AVRational realBaseRate) {
    auto finish = [](AVRational rate) {
        if (rate.den == 0) rate.den = 1;
        return rate;
    };
    if (averageRate.num < 1 || averageRate.den < 1) return finish(realBaseRate);
    if (realBaseRate.den < 1) return finish(averageRate);
    const double a = av_q2d(averageRate);
    const double r = av_q2d(realBaseRate);
    if (!(r > 0 && a > 0)) return finish(averageRate);
    if (std::fabs(static_cast<float>(r) - static_cast<float>(a)) < 1e-14f) {
        return finish(averageRate);
    }
    return finish(ChooseRealBaseRate(a, r) ? realBaseRate : averageRate);
}

int64_t TFileCaptor::TPlaybackClock::DueWall(int64_t pts, int64_t now) {
    if (passCount == 0 && startWall == 0) {
        startWall = now;
        firstPts = pts;
    } else if (passCount == 1 && pts == firstPts) {
        passLength = lastOffset;  // the offset of the first pass's last frame
    }
    lastOffset = SaturatingSub(pts, firstPts);
    const int64_t offset = SaturatingAdd(SaturatingMul(passLength, passCount), lastOffset);
    return SaturatingAdd(startWall, RescaleToMicros(offset, streamTimeBase));
}

int64_t TFileCaptor::TPlaybackClock::Restamp(int64_t now) const {
    return av_rescale_q(now - startWall, microTimeBase, streamTimeBase);
}

TFileCaptor::TFileCaptor() = default;

TFileCaptor::~TFileCaptor() { Stop(); }

int TFileCaptor::Open(std::string path, InputFrameCallback callback, void* reserved, void* user,
                      int loop) {
    Stop();

    auto input = std::make_shared<TInputFile>();
    input->formatContext = avformat_alloc_context();
    if (input->formatContext == nullptr) return -1;
    input->formatContext->interrupt_callback = {&TInputFile::Interrupted, input.get()};
    // Frees the context on failure.
    if (avformat_open_input(&input->formatContext, path.c_str(), nullptr, nullptr) < 0) return -1;
    m_pInput = std::move(input);
    AVFormatContext* const context = m_pInput->formatContext;
    if (avformat_find_stream_info(context, nullptr) < 0) {
        CloseFile();
        return -2;
    }

    const int video = FirstStreamOf(context, AVMEDIA_TYPE_VIDEO);
    if (video < 0 || OpenDecoder(video, &m_pVideoCodec) != 0) {
        CloseFile();
        return -3;
    }
    m_nVideoIndex = video;
    m_nWidth = m_pVideoCodec->width;
    m_nHeight = m_pVideoCodec->height;
    m_nPixelFormat = m_pVideoCodec->pix_fmt;
    const AVStream* videoStream = context->streams[video];
    m_frameRate = ChooseFrameRate(videoStream->avg_frame_rate, videoStream->r_frame_rate);

    // Audio is optional: a stream without channels is left alone, a decoder
    // that does not open only means no audio.
    const int audio = FirstStreamOf(context, AVMEDIA_TYPE_AUDIO);
    if (audio >= 0 && context->streams[audio]->codecpar->ch_layout.nb_channels != 0 &&
        OpenDecoder(audio, &m_pAudioCodec) == 0) {
        m_nAudioIndex = audio;
    }

    m_pCallback = callback;
    m_pReserved = reserved;
    m_pUser = user;
    m_nLoop = loop;
    return 0;
}

int TFileCaptor::OpenW(const char16_t* path, InputFrameCallback callback, void* reserved,
                       void* user) {
    return Open(common::Utf16ToUtf8(path != nullptr ? path : u""), callback, reserved, user, 0);
}

int TFileCaptor::OpenDecoder(int streamIndex, AVCodecContext** context) {
    const AVStream* stream = m_pInput->formatContext->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) return -1;
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    if (decoder == nullptr) return -1;
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_parameters_to_context(decoder, stream->codecpar) < 0 ||
        avcodec_open2(decoder, codec, nullptr) < 0) {
        avcodec_free_context(&decoder);
        return -1;
    }
    *context = decoder;
    return 0;
}

void TFileCaptor::CloseFile() {
    avcodec_free_context(&m_pVideoCodec);
    avcodec_free_context(&m_pAudioCodec);
    m_pInput.reset();  // closes the file unless delivered pictures still hold it
    m_nVideoIndex = -1;
    m_nAudioIndex = -1;
}

platform::TManualResetEvent* TFileCaptor::Start() {
    // Open accepts no file without a video stream, so this is the case of
    // both streams missing.
    if (m_nVideoIndex < 0 || !m_pInput) {
        common::ErrorTrail::Add(kStartError);
        return nullptr;
    }
    StopWorker();
    m_pInput->stopRequested.store(false, std::memory_order_release);
    m_evtPlaybackEnded.Reset();
    m_worker.Start(&TFileCaptor::PlaybackLoop, this);
    return &m_evtPlaybackEnded;
}

void TFileCaptor::StopWorker() {
    if (m_pInput) m_pInput->stopRequested.store(true, std::memory_order_release);
    // Destroy, not only Stop: a stopped captor has no playback thread left.
    m_worker.Destroy();
}

int TFileCaptor::Stop() {
    StopWorker();
    CloseFile();
    m_pCallback = nullptr;
    m_pReserved = nullptr;
    m_pUser = nullptr;
    return 0;
}

int TFileCaptor::GetFormat(TCapVideoFormat* out) {
    if (m_nVideoIndex < 0 || m_pVideoCodec == nullptr) return 0;
    if (out != nullptr) {
        out->width = static_cast<int16_t>(m_nWidth);
        out->height = static_cast<int16_t>(m_nHeight);
        out->pixelFormat = static_cast<int16_t>(m_nPixelFormat);
        const float rate = static_cast<float>(m_frameRate.num) / static_cast<float>(m_frameRate.den);
        out->frameRate = static_cast<int16_t>(std::clamp(rate, -32768.0f, 32767.0f));
    }
    return m_worker.HasThread() ? 2 : 1;
}

int64_t TFileCaptor::GetFrameCount() {
    const int64_t duration = m_pInput ? m_pInput->formatContext->duration : AV_NOPTS_VALUE;
    if (duration == AV_NOPTS_VALUE || duration <= 0 || m_frameRate.den == 0) return 0;
    const double rate = static_cast<float>(m_frameRate.num) / static_cast<float>(m_frameRate.den);
    const double frames = rate * static_cast<double>(duration) / 1000000.0;
    return std::llround(std::clamp(frames, 0.0, 1e15));
}

bool TFileCaptor::IsPlaying() const {
    return m_worker.HasThread() && !m_evtPlaybackEnded.IsSet();
}

void TFileCaptor::PlaybackLoop(void* self) { static_cast<TFileCaptor*>(self)->Play(); }

bool TFileCaptor::ShouldStop() const {
    return m_worker.ExitRequested() || m_pInput->stopRequested.load(std::memory_order_acquire);
}

void TFileCaptor::Play() {
    AVPacket* packet = av_packet_alloc();
    AVFrame* video = av_frame_alloc();
    AVFrame* audio = av_frame_alloc();
    TPlaybackClock clock;
    const AVRational timeBase = m_pInput->formatContext->streams[m_nVideoIndex]->time_base;
    if (timeBase.num > 0 && timeBase.den > 0) clock.streamTimeBase = timeBase;

    int64_t framesThisPass = 0;
    {
        // Let go of before the exit is confirmed: once Stop has returned,
        // only delivered pictures hold the file.
        const TOwnerRef input(m_pInput);
        if (input.IsValid() && packet != nullptr && video != nullptr && audio != nullptr) {
            while (!ShouldStop() &&
                   ReadPacket(input, packet, clock, framesThisPass, video, audio)) {
            }
        }
    }

    av_packet_free(&packet);
    av_frame_free(&video);
    av_frame_free(&audio);
    m_evtPlaybackEnded.Set();
    // Nothing of the captor is touched after this.
    m_worker.ConfirmExit();
}

// One packet: read, decode, deliver. False ends playback.
bool TFileCaptor::ReadPacket(const TOwnerRef& input, AVPacket* packet, TPlaybackClock& clock,
                             int64_t& framesThisPass, AVFrame* video, AVFrame* audio) {
    const int read = av_read_frame(m_pInput->formatContext, packet);
    if (read < 0) {
        if (read != AVERROR_EOF) return false;
        // The decoder still holds the last pictures of the pass.
        if (!DecodeVideo(input, nullptr, clock, video, framesThisPass)) return false;
        // A pass that showed nothing would only be rewound again and again.
        if (m_nLoop == 0 || framesThisPass == 0 || !Rewind()) return false;
        ++clock.passCount;
        framesThisPass = 0;
        return true;
    }
    bool playOn = true;
    if (packet->stream_index == m_nVideoIndex) {
        playOn = DecodeVideo(input, packet, clock, video, framesThisPass);
    } else if (packet->stream_index == m_nAudioIndex) {
        playOn = DecodeAudio(packet, audio);
    }
    av_packet_unref(packet);
    return playOn;
}

bool TFileCaptor::Rewind() {
    // Backwards from the stream's start, so that the pass begins with the
    // first key frame even when its decoding time stamp lies before 0.
    AVFormatContext* const context = m_pInput->formatContext;
    const AVStream* stream = context->streams[m_nVideoIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (av_seek_frame(context, m_nVideoIndex, start, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(context, m_nVideoIndex, 0, 0) < 0) {
        return false;
    }
    avcodec_flush_buffers(m_pVideoCodec);
    if (m_pAudioCodec != nullptr) avcodec_flush_buffers(m_pAudioCodec);
    return true;
}

// `packet` null drains the decoder. A packet the decoder refuses as damaged
// is skipped; other decoder failures end playback.
bool TFileCaptor::DecodeVideo(const TOwnerRef& input, const AVPacket* packet,
                              TPlaybackClock& clock, AVFrame* frame, int64_t& delivered) {
    const int sent = avcodec_send_packet(m_pVideoCodec, packet);
    if (sent == AVERROR(EAGAIN) || sent == AVERROR_INVALIDDATA) return true;
    if (sent < 0 && sent != AVERROR_EOF) return false;
    for (;;) {
        const int received = avcodec_receive_frame(m_pVideoCodec, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF ||
            received == AVERROR_INVALIDDATA) {
            return true;
        }
        if (received < 0) return false;
        ++delivered;
        if (!DeliverVideo(input, frame, clock)) return false;
    }
}

bool TFileCaptor::DecodeAudio(const AVPacket* packet, AVFrame* frame) {
    const int sent = avcodec_send_packet(m_pAudioCodec, packet);
    if (sent == AVERROR(EAGAIN) || sent == AVERROR_INVALIDDATA) return true;
    if (sent < 0) return false;
    for (;;) {
        const int received = avcodec_receive_frame(m_pAudioCodec, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF ||
            received == AVERROR_INVALIDDATA) {
            return true;
        }
        if (received < 0) return false;
        frame->opaque = m_pInput->formatContext->streams[m_nAudioIndex];
        av_frame_unref(frame);
    }
}

int64_t TFileCaptor::FramePts(const AVFrame* frame, const TPlaybackClock& clock) const {
    if (frame->pts != AV_NOPTS_VALUE) return frame->pts;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) return frame->best_effort_timestamp;
    // No time stamp at all: one frame interval after the previous picture.
    if (clock.startWall == 0) return 0;
    const int64_t interval = m_frameRate.num > 0 && m_frameRate.den > 0
                                 ? av_rescale_q(1, av_inv_q(m_frameRate), clock.streamTimeBase)
                                 : 0;
    return SaturatingAdd(SaturatingAdd(clock.firstPts, clock.lastOffset), interval);
}

// The picture carries `input`, which keeps the stream its opaque names alive;
// one that cannot take it is dropped.
bool TFileCaptor::DeliverVideo(const TOwnerRef& input, AVFrame* frame, TPlaybackClock& clock) {
    const int64_t due = clock.DueWall(FramePts(frame, clock), av_gettime_relative());
    if (!WaitUntil(due)) {
        av_frame_unref(frame);
        return false;
    }
    frame->pts = clock.Restamp(av_gettime_relative());
    if (input.Attach(frame, m_pInput->formatContext->streams[m_nVideoIndex]) &&
        m_pCallback != nullptr) {
        m_pCallback(frame, m_pUser);
    }
    av_frame_unref(frame);
    return true;
}

// Sleeps until `dueWall`; false when Stop cut the wait short. Stop sets the
// worker's wake event together with its stop flag, so a wait for a time
// stamp far ahead ends at once.
bool TFileCaptor::WaitUntil(int64_t dueWall) {
    for (;;) {
        if (ShouldStop()) return false;
        const int64_t remaining = dueWall - av_gettime_relative();
        if (remaining <= 0) return true;
        if (remaining < 1000) {
            av_usleep(static_cast<unsigned>(remaining));
            return !ShouldStop();
        }
        const int64_t waitMs = std::min<int64_t>(remaining / 1000, 1 << 30);
        if (m_worker.WaitForWake(static_cast<int>(waitMs))) return false;
    }
}

}  // namespace pelorn
